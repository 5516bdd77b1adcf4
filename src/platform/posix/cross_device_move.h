#pragma once

#include <string>

#include "platform/files.h"

namespace qor::platform {

// The move of a file or link onto another file system: copy into a
// "."-prefixed temporary in the destination folder, carry over owner,
// permission bits and times, sync, link into the final name without
// replacing, and only then remove the source. On any failure the temporary
// (and a linked copy) is removed and the source is left as it was.
// `from` is a name in the folder `from_dir` (AT_FDCWD for a path).
Outcome MoveAcrossFileSystems(int from_dir, const std::string& from, const std::string& to);

// The prefix of every temporary name; a walk never takes such a file because
// it begins with ".".
inline constexpr const char* kTemporaryPrefix = ".qor-part-";

}  // namespace qor::platform
