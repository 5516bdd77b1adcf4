#include "run/path_text.h"

#include "platform/files.h"

namespace qor {

std::string TrimAtNull(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

std::string AddBackslash(const std::string& path) {
  if (!path.empty() && path.back() == platform::kSeparator) return path;
  return path + platform::kSeparator;
}

}  // namespace qor
