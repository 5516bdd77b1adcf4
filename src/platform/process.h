#pragma once

#include <string>

namespace qor::platform {

// The folder that holds the running executable, without a trailing "/".
std::string ExecutableFolder();

// The process's current folder, without a trailing "/"; empty when unknown.
std::string CurrentFolder();

// Lets the process keep one open folder per level of a deep tree.
void RaiseOpenFileLimit();

}  // namespace qor::platform
