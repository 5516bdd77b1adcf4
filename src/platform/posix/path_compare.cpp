#include "platform/path_compare.h"

#include <sys/stat.h>

#include "platform/files.h"

namespace qor::platform {

bool IsSameObject(const std::string& first, const std::string& second) {
  struct stat a;
  struct stat b;
  if (::stat(first.c_str(), &a) != 0 || ::stat(second.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace qor::platform

namespace qor::platform {

namespace {

std::string WithSeparator(const std::string& path) {
  return !path.empty() && path.back() == kSeparator ? path : path + kSeparator;
}

}  // namespace

FolderRelation RelateFolders(const std::string& target, const std::string& source) {
  if (target == source || IsSameObject(target, source)) return FolderRelation::Same;

  // With "/" on both ends a sibling whose name merely begins like the source
  // (/in and /inbox) is not taken for a subfolder of it.
  if (WithSeparator(target).starts_with(WithSeparator(source))) return FolderRelation::Inside;

  // Every parent on the way up from the target, checked by identity too.
  std::string parent = target;
  while (parent.size() > 1) {
    const std::size_t cut = parent.find_last_of(kSeparator);
    if (cut == std::string::npos) break;
    parent.resize(cut == 0 ? 1 : cut);
    if (IsSameObject(parent, source)) return FolderRelation::Inside;
  }
  return FolderRelation::Apart;
}

}  // namespace qor::platform
