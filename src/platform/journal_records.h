#pragma once

// The records of a run's journal, alike on every system: a kind and its
// fields, each ended by a NUL byte, which no path holds. A run writes each
// record whole, in one write, so that a kill leaves whole records only.

#include <string>
#include <string_view>
#include <vector>

namespace qor::platform {

// The name every journal begins with; the rest is random.
inline constexpr std::string_view kJournalPrefix = ".qor-journal-";

// "T": the temporary `name` is about to be made in `folder`.
std::string TemporaryRecord(std::string_view folder, std::string_view name);
// "P": the copy `name` in `target` is about to be put in place while its
// source `from` in `source` still exists; `entry` is the run log's entry.
std::string PlacingRecord(std::string_view source, std::string_view from, std::string_view target,
                          std::string_view name, std::string_view entry);
// "K": as "P", the source about to be renamed to `taken`.
std::string TakingAwayRecord(std::string_view source, std::string_view from,
                             std::string_view target, std::string_view name, std::string_view entry,
                             std::string_view taken);

// A journal's records, each its kind and fields in the order above. A record
// cut short by a kill is dropped, and so is everything from a kind this
// program never wrote.
std::vector<std::vector<std::string>> JournalRecords(const std::string& text);

}  // namespace qor::platform
