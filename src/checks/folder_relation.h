#pragma once

#include <string>

namespace qor {

enum class FolderRelation { Same, Inside, Apart };

// How the folder `target` stands to the folder `source`. Both are resolved
// real paths (absolute, no links, "." or ".." left, no trailing "/" except
// for the root). Letter case counts, as it does for the file system; a
// folder reached under two spellings is still recognised by its identity.
FolderRelation RelateFolders(const std::string& target, const std::string& source);

}  // namespace qor
