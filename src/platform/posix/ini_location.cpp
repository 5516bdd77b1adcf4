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

namespace {

// $`variable` where it is an absolute path (a relative value is to be
// ignored, as the XDG base directory rules say), else `below_home` in the
// home folder.
std::string XdgFolder(const char* variable, const char* below_home) {
  if (const char* set = std::getenv(variable); set != nullptr && set[0] == '/') {
    return WithoutTrailingSlashes(set);
  }
  const std::string home = HomeFolder();
  if (home.empty()) return {};
  return WithoutTrailingSlashes(home) + below_home;
}

}  // namespace

std::string UserConfigFolder() {
  return XdgFolder("XDG_CONFIG_HOME", "/.config");
}

std::string UserStateFolder() {
  return XdgFolder("XDG_STATE_HOME", "/.local/state");
}

}  // namespace qor::platform
