#pragma once

// Paths and log lines as the run writes them on this system.

#include <string>

#include "platform/files.h"
#include "run/log_escapes.h"

namespace qor {

// `path` written with "/" as the folder separator, in this system's own.
inline std::string Native(std::string path) {
  for (char& c : path) {
    if (c == '/') c = platform::kSeparator;
  }
  return path;
}

// A path in the run log is written with its folder separators as they are.
// Where the log writes them escaped instead, the exact log lines cannot be
// checked; the test says so rather than pass.
inline bool LogKeepsSeparators() {
  const std::string separator(1, platform::kSeparator);
  return LogText(separator) == separator;
}
inline constexpr const char* kSeparatorEscaped =
    "the run log writes every backslash, the folder separator here, as \\x5C (LogText), so its "
    "exact lines are not checked";

}  // namespace qor
