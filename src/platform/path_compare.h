#pragma once

#include <string>

namespace qor::platform {

// True when both paths lead (links followed) to one and the same file-system
// object: the same device and inode. Catches two spellings of one folder that
// resolving the texts cannot, such as a bind mount or a case-insensitive file
// system. False when either cannot be examined.
bool IsSameObject(const std::string& first, const std::string& second);

}  // namespace qor::platform
