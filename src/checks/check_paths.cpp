#include "checks/check_paths.h"

#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/path_compare.h"
#include "run/path_text.h"

namespace qor {

namespace {

constexpr const char* kLabels[] = {"Source ", "Target "};

// The tests of one path box. On success the box ends with "/" and `real`
// holds the folder's resolved path.
bool CheckOnePath(int index, WindowInputs& inputs, MessageBoxes& messages, std::string& real) {
  const std::string label = kLabels[index];
  const std::string text = inputs.PathText(index);
  const auto refuse = [&](const std::string& prompt, const std::optional<std::string>& title) {
    messages.ShowMessage(prompt, title);
    inputs.FocusPathBox(index);
    return false;
  };

  if (text.empty()) return refuse("No " + label + "path given", "grrr");
  if (!platform::IsDirectory(text)) {
    return refuse(label + "path is no Directory/Folder" + kLineBreak + text, std::nullopt);
  }
  if (!platform::IsWellFormedPath(text)) {
    return refuse(label + "path contains errors" + kLineBreak + text, "uups   ");
  }
  // A folder that cannot be resolved any more has gone away since the test
  // above; without its real path nothing could keep the target out of it.
  real = platform::PathExists(text) ? platform::RealPath(text) : std::string();
  if (real.empty()) return refuse(label + "does not exist" + kLineBreak + text, "uups");

  inputs.SetPathText(index, AddBackslash(text));
  return true;
}

}  // namespace

bool CheckPaths(WindowInputs& inputs, MessageBoxes& messages) {
  std::string source;
  std::string target;
  if (!CheckOnePath(kSourceBox, inputs, messages, source)) return false;
  if (!CheckOnePath(kTargetBox, inputs, messages, target)) return false;

  // Compared as the file system resolves them, so neither another spelling
  // (a link, "..", a doubled "/") hides a target inside the source, nor are
  // two folders refused that differ only in letter case.
  switch (platform::RelateFolders(target, source)) {
    case platform::FolderRelation::Same:
      messages.ShowMessage(std::string(kLabels[kSourceBox]) + "and " + kLabels[kTargetBox] +
                               "are identical" + kLineBreak,
                           "uups");
      return false;
    case platform::FolderRelation::Inside:
      messages.ShowMessage("zyclic copy", "Arrgh");
      return false;
    case platform::FolderRelation::Apart:
      break;
  }
  return true;
}

}  // namespace qor
