#include "checks/folder_relation.h"

#include "platform/files.h"
#include "platform/path_compare.h"
#include "run/find_file.h"

namespace qor {

FolderRelation RelateFolders(const std::string& target, const std::string& source) {
  if (target == source || platform::IsSameObject(target, source)) return FolderRelation::Same;

  // With "/" on both ends a sibling whose name merely begins like the source
  // (/in and /inbox) is not taken for a subfolder of it.
  const std::string source_folder = AddBackslash(source);
  if (AddBackslash(target).starts_with(source_folder)) return FolderRelation::Inside;

  // Every parent on the way up from the target, checked by identity too.
  std::string parent = target;
  while (parent.size() > 1) {
    const std::size_t cut = parent.find_last_of(platform::kSeparator);
    if (cut == std::string::npos) break;
    parent.resize(cut == 0 ? 1 : cut);
    if (platform::IsSameObject(parent, source)) return FolderRelation::Inside;
  }
  return FolderRelation::Apart;
}

}  // namespace qor
