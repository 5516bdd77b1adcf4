#pragma once

// The names the program gives its own files in a folder it writes into:
// a fixed prefix and twelve random hexadecimal digits. Both begin with ".",
// so a walk never takes them.

#include <cstddef>
#include <string>
#include <string_view>

namespace qor::platform {

// A copy on its way to its final name.
inline constexpr std::string_view kTemporaryPrefix = ".qor-part-";
// A source between being taken away from its own name and its removal.
inline constexpr std::string_view kTakenPrefix = ".qor-take-";
inline constexpr std::size_t kRandomSuffixLength = 12;

// `prefix` followed by a fresh random suffix; safe to call from any thread.
std::string RandomName(std::string_view prefix);

// True when `name` is exactly `prefix` and a suffix as RandomName makes it.
bool IsRandomName(std::string_view name, std::string_view prefix);

}  // namespace qor::platform
