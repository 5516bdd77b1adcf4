#pragma once

#include <time.h>

#include <string>

#include "platform/files.h"

namespace qor::platform {

// The move of a file or link onto another file system: copy into a
// "."-prefixed temporary in the destination folder, carry over owner,
// permission bits, extended attributes, times and holes, sync, link into the
// final name without replacing, and only then remove the source, once it is
// known to be the very file copied, unchanged. On any failure the temporary
// (and a linked copy) is removed and the source is left as it was.
// `from` is a name in the folder `from_dir`, `name` one in `to_dir`.
Outcome MoveAcrossFileSystems(int from_dir, const std::string& from, int to_dir,
                              const std::string& name);

// Removes from the folder `dir_fd` the temporaries of this program that a
// killed run left: exactly its name pattern, regular files, untouched since
// `since`.
void RemoveStaleTemporaries(int dir_fd, const struct timespec& since);

// The prefix of every temporary name; a walk never takes such a file because
// it begins with ".".
inline constexpr const char* kTemporaryPrefix = ".qor-part-";
// The prefix of the private name a source has between being taken away from
// its own name and its removal; a run killed just then leaves it behind, a
// hidden twin of a copy already in place.
inline constexpr const char* kTakenPrefix = ".qor-take-";

}  // namespace qor::platform
