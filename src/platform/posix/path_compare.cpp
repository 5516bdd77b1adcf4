#include "platform/path_compare.h"

#include <sys/stat.h>

namespace qor::platform {

bool IsSameObject(const std::string& first, const std::string& second) {
  struct stat a;
  struct stat b;
  if (::stat(first.c_str(), &a) != 0 || ::stat(second.c_str(), &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace qor::platform
