#pragma once

#include <sys/stat.h>

namespace qor::platform {

// Gives the open copy `out` what belongs to the file `in` besides its bytes:
// owner, permission bits, extended attributes and ACLs, then the times of
// `source` (the file's state when its copy began). 0, kAttributesNotKept
// when the target cannot hold an ACL or user attribute, or the errno.
// `made`, when given, gets the copy's state as it was made (st_ino 0 where
// it could not be read): its identity, which stays. `from_dir`, the folder
// `in` lies in, tells whether its file system can list attributes at all.
int CopyAttributes(int in, int out, const struct stat& source, struct stat* made = nullptr,
                   int from_dir = -1);

}  // namespace qor::platform
