#include "config/settings_location.h"

#include "config/settings.h"
#include "platform/files.h"
#include "platform/ini_location.h"
#include "platform/process.h"

namespace qor {

namespace {

constexpr const char* kFileName = "qro.ini";

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == platform::kSeparator) return folder + name;
  return folder + platform::kSeparator + name;
}

}  // namespace

std::string SettingsFilePathFor(const std::string& executable_folder) {
  const std::string beside = JoinPath(executable_folder, kFileName);
  // A portable install keeps its settings beside the program; an install the
  // user cannot write to (under /usr, say) keeps them in the user's folder.
  if (platform::PathExists(beside) || platform::CanCreateFileIn(executable_folder)) return beside;
  const std::string config = platform::UserConfigFolder();
  if (config.empty()) return beside;
  return JoinPath(JoinPath(config, "qor"), kFileName);
}

std::string SettingsFilePath() {
  return SettingsFilePathFor(platform::ExecutableFolder());
}

}  // namespace qor
