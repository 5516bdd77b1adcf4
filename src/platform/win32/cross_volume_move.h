#pragma once

#include <string>

#include "platform/files.h"

namespace qor::platform {

// The move of a file or link onto another volume: copy into a "."-prefixed
// temporary in the destination folder (attributes, times and alternate data
// streams go with it), flush it, check it against the source, rename it to
// its name without replacing, and only then delete the source. On any failure
// the temporary (and a renamed copy) is removed and the source is left as it
// was. Both paths are in "\\?\" form.
Outcome MoveAcrossVolumes(const std::wstring& from, const std::wstring& to);

// The prefix of every temporary name; a walk never takes such a file because
// it begins with ".".
inline constexpr const wchar_t* kTemporaryPrefix = L".qor-part-";

}  // namespace qor::platform
