#include "config/settings_location.h"

#include "config/settings.h"
#include "platform/files.h"
#include "platform/ini_location.h"
#include "platform/process.h"

// 1 in a build with QOR_USER_SETTINGS.
#ifndef QOR_USER_SETTINGS_ONLY
#define QOR_USER_SETTINGS_ONLY 0
#endif

namespace qor {

namespace {

constexpr const char* kFileName = "qro.ini";

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == platform::kSeparator) return folder + name;
  return folder + platform::kSeparator + name;
}

}  // namespace

std::string UserSettingsFilePath() {
  const std::string config = platform::UserConfigFolder();
  if (config.empty()) return {};
  return JoinPath(JoinPath(config, "qor"), kFileName);
}

std::string SettingsFilePathFor(const std::string& executable_folder) {
  const std::string beside = JoinPath(executable_folder, kFileName);
  // An installed copy keeps its settings in the user's folder even where it
  // could write beside itself (an administrator, wine), so that removing the
  // program leaves nothing of the user's in the program's folder.
  if (platform::PathExists(JoinPath(executable_folder, kInstalledMarker))) {
    const std::string user = UserSettingsFilePath();
    if (!user.empty()) return user;
  }
  // A portable install keeps its settings beside the program; an install the
  // user cannot write to keeps them in the user's folder.
  if (platform::PathExists(beside) || platform::CanCreateFileIn(executable_folder)) return beside;
  const std::string user = UserSettingsFilePath();
  return user.empty() ? beside : user;
}

std::string SettingsFilePath() {
  // Set by the build: an install under /usr (the Debian package) never
  // writes beside its binary, not even when root runs it.
  if (QOR_USER_SETTINGS_ONLY) return UserSettingsFilePath();
  return SettingsFilePathFor(platform::ExecutableFolder());
}

}  // namespace qor
