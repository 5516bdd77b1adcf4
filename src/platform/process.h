#pragma once

#include <string>

namespace qor::platform {

// The folder that holds the running executable, without a trailing "/".
std::string ExecutableFolder();

// The process's current folder, without a trailing "/"; empty when unknown.
std::string CurrentFolder();

// Lets the process keep one open folder per level of a deep tree.
void RaiseOpenFileLimit();

// A write past the process's file size limit fails that one file with an
// error (EFBIG) instead of ending the whole run by a signal.
void ReportFileSizeLimitAsError();

// The program's argument text. On Windows the raw command line as the system
// keeps it, less the program name and the blanks after it; the rest exactly as
// typed, so two blanks in a row stay two. On Linux `argv[1]` onwards joined
// with one blank each.
std::string ArgumentText(int argc, char** argv);

}  // namespace qor::platform
