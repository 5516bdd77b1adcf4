#pragma once

#include <sys/stat.h>

#include "platform/files.h"

namespace qor::platform {

inline FileIdentity IdentityFromStat(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace qor::platform
