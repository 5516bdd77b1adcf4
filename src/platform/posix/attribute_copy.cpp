#include "platform/posix/attribute_copy.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/posix/file_system_abilities.h"

namespace qor::platform {

namespace {

// An ACL and a user attribute belong to the file's meaning: a target that
// cannot hold them does not get the file. Other namespaces (trusted.*,
// security.capability) come along where this process is allowed to set them;
// the security label is the target's own business.
bool MustKeep(const char* name) {
  return std::strncmp(name, "user.", 5) == 0 || std::strncmp(name, "system.posix_acl_", 17) == 0;
}

int CopyExtendedAttributes(int in, int out, int from_dir) {
  std::vector<char> names;
  for (;;) {
    const ssize_t length = ::flistxattr(in, nullptr, 0);
    if (length < 0) {
      const int error = errno;
      if (error == ENOTSUP) return 0;
      // rclone answers EIO for every file: a file system that cannot list
      // a single file's attributes holds none to carry over.
      if (error == EIO && from_dir >= 0 && !KnownAbilitiesOf(from_dir).extended_attributes)
        return 0;
      return error;
    }
    if (length == 0) return 0;
    names.resize(static_cast<std::size_t>(length));
    const ssize_t got = ::flistxattr(in, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) return errno;  // ERANGE: the list grew meanwhile
  }
  std::vector<char> value;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
    const char* name = names.data() + at;
    if (std::strcmp(name, "security.selinux") == 0) continue;
    ssize_t size;
    for (;;) {
      size = ::fgetxattr(in, name, nullptr, 0);
      if (size < 0) break;
      value.resize(static_cast<std::size_t>(size));
      size = ::fgetxattr(in, name, value.data(), value.size());
      if (size >= 0 || errno != ERANGE) break;
    }
    if (size < 0) {
      if (errno == ENODATA) continue;  // removed meanwhile
      return errno;
    }
    if (::fsetxattr(out, name, value.data(), static_cast<std::size_t>(size), 0) == 0) continue;
    const int error = errno;
    if (MustKeep(name)) {
      return error == ENOTSUP || error == EPERM || error == ENOSPC || error == E2BIG
                 ? kAttributesNotKept
                 : error;
    }
    if (error != EPERM && error != ENOTSUP) return error;
  }
  return 0;
}

}  // namespace

int CopyAttributes(int in, int out, const struct stat& source, struct stat* made_out,
                   int from_dir) {
  // Owner first: changing it clears set-user-ID bits that fchmod then sets,
  // and capabilities that the attributes then bring back. Only root may give
  // a file away; others keep their own ownership.
  // What already matches is not set again: on a share each call is a round
  // trip.
  struct stat made;
  const bool known = ::fstat(out, &made) == 0;
  if (made_out != nullptr) {
    *made_out = made;
    if (!known) made_out->st_ino = 0;
  }
  const bool owned = known && made.st_uid == source.st_uid && made.st_gid == source.st_gid;
  if (!owned && ::fchown(out, source.st_uid, source.st_gid) != 0 && errno != EPERM) return errno;
  // A change of owner may have cleared mode bits.
  if ((!owned || (made.st_mode & 07777) != (source.st_mode & 07777)) &&
      ::fchmod(out, source.st_mode & 07777) != 0) {
    return errno;
  }
  // After the mode: an ACL sets the group bits from its mask.
  if (const int error = CopyExtendedAttributes(in, out, from_dir)) return error;
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  if (::futimens(out, times) != 0) return errno;
  return 0;
}

}  // namespace qor::platform
