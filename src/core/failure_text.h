#pragma once

#include <string>

namespace qor {

// What the exception being handled says, for a message or a log: called only
// inside a catch block. Never throws.
std::string CurrentFailureText() noexcept;

}  // namespace qor
