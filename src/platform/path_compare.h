#pragma once

#include <string>

namespace qor::platform {

// True when both paths lead (links followed) to one and the same file-system
// object: the same device and inode. Catches two spellings of one folder that
// resolving the texts cannot, such as a bind mount or a case-insensitive file
// system. False when either cannot be examined.
bool IsSameObject(const std::string& first, const std::string& second);

enum class FolderRelation { Same, Inside, Apart };

// How the folder `target` stands to the folder `source`. Both are resolved
// real paths (absolute, no links, "." or ".." left, no trailing "/" except
// for the root). Letter case counts, as it does for the file system; a
// folder reached under two spellings is still recognised by its identity.
FolderRelation RelateFolders(const std::string& target, const std::string& source);

}  // namespace qor::platform
