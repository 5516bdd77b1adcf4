#include "platform/ini_location.h"

#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace qor::platform {

namespace {

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return {};
}

}  // namespace

bool CanCreateFileIn(const std::string& folder) {
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string UserConfigFolder() {
  // A relative value is to be ignored, as the XDG base directory rules say.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    return WithoutTrailingSlashes(config);
  }
  const std::string home = HomeFolder();
  if (home.empty()) return {};
  return WithoutTrailingSlashes(home) + "/.config";
}

}  // namespace qor::platform
