#pragma once

// Whether a file system answers over a network or through a process of its
// own: there every operation waits a round trip, and work that overlaps
// those waits pays.

#include <sys/vfs.h>

namespace qor::platform {

inline bool IsRemote(int fd) {
  struct statfs about;
  if (::fstatfs(fd, &about) != 0) return false;
  switch (static_cast<unsigned long>(about.f_type)) {
    case 0x65735546UL:  // FUSE: sshfs, rclone mount, NAS clients
    case 0x6969UL:      // NFS
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x517BUL:      // SMB
    case 0x01021997UL:  // 9p
    case 0x00C36400UL:  // Ceph
    case 0x6B414653UL:  // AFS
      return true;
    default:
      return false;
  }
}

}  // namespace qor::platform
