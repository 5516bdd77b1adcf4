#pragma once

#include <string>
#include <string_view>

namespace qor {

// The text up to, not including, its first NUL byte.
std::string TrimAtNull(std::string_view text);

// The path with a separator appended unless it already ends with one.
std::string AddBackslash(const std::string& path);

}  // namespace qor
