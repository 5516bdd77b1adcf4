#pragma once

#include <sys/stat.h>

#include "platform/files.h"

namespace qor::platform {

inline FileIdentity IdentityFromStat(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// Whether `st`, found under the name or in the folder a killed run recorded
// with `recorded`, is that file. By its number alone: the folder names its
// disk, and a restart may number the disk anew (a USB disk, a loop device),
// so that a device number written before the power cut may no longer be
// that disk's.
inline bool IsFileHere(const FileIdentity& recorded, const struct stat& st) {
  return recorded.inode == static_cast<std::uint64_t>(st.st_ino);
}

}  // namespace qor::platform
