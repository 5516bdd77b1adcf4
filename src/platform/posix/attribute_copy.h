#pragma once

#include <sys/stat.h>

namespace qor::platform {

// Gives the open copy `out` what belongs to the file `in` besides its bytes:
// owner, permission bits, extended attributes and ACLs, then the times of
// `source` (the file's state when its copy began). 0, kAttributesNotKept
// when the target cannot hold an ACL or user attribute, or the errno.
int CopyAttributes(int in, int out, const struct stat& source);

}  // namespace qor::platform
