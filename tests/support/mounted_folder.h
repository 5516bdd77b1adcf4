#pragma once

#include <sys/mount.h>

#include <string>

#include "support/temp_tree.h"

namespace qor::testing {

// A file system of its own on a fresh folder, for what only another file
// system shows: running out of space, or not holding extended attributes.
// Mounting needs root; mounted() tells whether it worked.
class MountedFolder {
 public:
  MountedFolder(const char* type, const char* options) {
    mounted_ = ::mount("qor-test", folder_.path().c_str(), type, 0, options) == 0;
  }
  ~MountedFolder() {
    if (mounted_) ::umount2(folder_.path().c_str(), MNT_DETACH);
  }
  MountedFolder(const MountedFolder&) = delete;
  MountedFolder& operator=(const MountedFolder&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& path() const { return folder_.path(); }
  std::string slash() const { return folder_.slash(); }

 private:
  TempFolder folder_;
  bool mounted_ = false;
};

}  // namespace qor::testing
