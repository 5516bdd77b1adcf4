#pragma once

// Paths taken apart at their separators, the one way every part of the
// program does it.

#include <string>
#include <string_view>
#include <vector>

namespace qor::platform {

// Every part of `path` between separators, in order, empty ones included:
// "a//b/" gives "a", "", "b", "". The parts view `path`'s own characters.
template <typename Char>
std::vector<std::basic_string_view<Char>> SplitPath(std::basic_string_view<Char> path,
                                                    Char separator) {
  std::vector<std::basic_string_view<Char>> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(separator, start);
    if (end == std::basic_string_view<Char>::npos) {
      parts.push_back(path.substr(start));
      return parts;
    }
    parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
}

// The names of a folder path such as "a/b/" (empty parts dropped), as
// folders to step down into one after another.
template <typename Char>
std::vector<std::basic_string<Char>> FolderNames(std::basic_string_view<Char> path,
                                                 Char separator) {
  std::vector<std::basic_string<Char>> names;
  for (const auto part : SplitPath(path, separator)) {
    if (!part.empty()) names.emplace_back(part);
  }
  return names;
}

// True when `name` can stand as one step down from a folder: not empty, not
// "." or "..", and neither "/" nor the system's `separator` in it (a
// backslash is a plain character in a Linux name).
inline bool IsPlainName(std::string_view name, char separator) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find(separator) == std::string_view::npos;
}

}  // namespace qor::platform
