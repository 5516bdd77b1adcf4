#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qor {

// A name as written into the run log: control bytes (line breaks among them)
// and the backslash appear as \xHH, so that every entry stays on one line and
// names exactly one file.
std::string LogText(std::string_view text);

// The text of a run log's name or folder with its \xHH escapes decoded;
// nullopt when it holds a byte or an escape that the log never writes. Where
// the backslash is the folder separator, one that starts no escape of a
// control byte is that separator.
std::optional<std::string> DecodeLogText(std::string_view text);

}  // namespace qor
