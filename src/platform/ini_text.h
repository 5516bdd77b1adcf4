#pragma once

// The INI rules on text already in memory, apart from any file: the file
// layer reads a whole file, applies these and writes the result in one piece.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qor::platform {

// The lines of an INI text without their line ends; LF and CR LF both end a
// line. A last line without a line end is kept.
std::vector<std::string> SplitIniLines(std::string_view text);

// The lines joined again, every one ending with CR LF.
std::string JoinIniLines(const std::vector<std::string>& lines);

// The value of `key` in the first section named `section`, blanks around it
// and then one pair of double quotes around it dropped; nullopt when the
// section or the key is missing.
std::optional<std::string> FindIniValue(const std::vector<std::string>& lines,
                                        std::string_view section, std::string_view key);

// Whether `value` fits on one line of the file, and so reads back exactly as
// written.
bool IsStorableIniValue(std::string_view value);

// Sets `key` of the first section named `section` to `value`, put in double
// quotes when it has blanks at an end or is itself quoted: the key's line
// is rewritten in place, a missing key goes after the last line of its
// section, a missing section is appended. Every other line stays as it was.
// False, with `lines` unchanged, when the value is not storable.
bool SetIniValue(std::vector<std::string>& lines, std::string_view section, std::string_view key,
                 std::string_view value);

}  // namespace qor::platform
