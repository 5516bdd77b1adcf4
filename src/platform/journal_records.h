#pragma once

// The records of a run's journal, alike on every system: a kind and its
// fields, each ended by a NUL byte, which no path holds. A run writes each
// record whole, in one write, so that a kill leaves whole records only.
//
// A journal begins with its roots ("R"): the folder the run takes files from
// and the folder that holds the journal, both absolute and ending with the
// separator, and where below the second the first's files go ("" or a date
// folder such as "20210615/"). Every other record names folders relative to them ("" or
// "a/b/", plain names only), so that a journal can never lead outside the
// two. A later run acts on a journal only when all of it reads back exactly
// as written here.
//
// Every record ends with its seal: HMAC-SHA-256, under this user's journal
// key, of the seal of the record before it and of the record's own bytes, in
// hexadecimal. The roots record holds a random number of its own, so that no
// record can be forged, moved to another place in its journal or into
// another journal, or a journal made for another folder, by anyone without
// the key, whatever owners and modes a file system shows.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/files.h"
#include "platform/journal_key.h"

namespace qor::platform {

// The name every journal begins with; the rest is random.
inline constexpr std::string_view kJournalPrefix = ".qor-journal-";
// Why a journal is not acted on when it is another target folder's: in
// this user's own folder, where the journals of runs into every target
// folder lie, it is passed over without a word.
inline constexpr char kAnotherFolder[] = "it was made for another folder";

// A journal holds one batch of moves: anything larger is none of ours.
inline constexpr std::uint64_t kLargestJournal = std::uint64_t{64} << 20;

// Seals `records`, whole records as the functions below make them, as the
// next ones of a journal: `chain` is the seal of the record before them
// (empty before the roots), and becomes the last one's. `whole`, where
// given, is set to the bytes of `records` sealed: a rest that is no whole
// record is left out.
std::string SealRecords(const JournalKey& key, std::string_view records, std::string& chain,
                        std::size_t* whole = nullptr);

// "R": the roots; first in every journal.
std::string RootsRecord(std::string_view source_root, std::string_view target_root,
                        std::string_view below = {});
// "L": the run log that records the moves named after it: its absolute path
// and identity, and its size before the first of their entries.
std::string LogRecord(const LogMark& log);
// "T": the temporary `name` is about to be made in `folder` below the
// target root.
std::string TemporaryRecord(std::string_view folder, std::string_view name);
// "U": as "T", in `folder` below the source root (a probe of what the
// source's file system offers).
std::string SourceTemporaryRecord(std::string_view folder, std::string_view name);
// "W": the copy of `name` in `source` is about to be made under its own
// name in `target` (both below their roots), where the file system can
// neither rename without replacing nor link: the name is made exclusively
// and written into.
std::string WritingRecord(std::string_view source, std::string_view target, std::string_view name);
// "X": after "W", the name was found taken when the copy was to be made:
// what stands under it is not the copy.
std::string NameTakenRecord(std::string_view source, std::string_view target,
                            std::string_view name);
// "P": the copy `name` in `target` (below the target root), `copy` on its
// file system (0 where not known), is about to be put in place while its
// source, of the same name in `source` (below the source root), still
// exists; `entry` is the run log's entry.
std::string PlacingRecord(std::string_view source, std::string_view target, std::string_view name,
                          std::string_view entry, const FileIdentity& copy = {});
// "K": as "P", the source about to be renamed to `taken`.
std::string TakingAwayRecord(std::string_view source, std::string_view target,
                             std::string_view name, std::string_view entry, std::string_view taken);

// "N": the file `name` in `source` (below the source root), `identity` on
// its file system, is about to be renamed to `name` in `target` (below the
// target root), on that same file system; `entry` is the run log's entry,
// which follows the rename.
std::string RenamingRecord(std::string_view source, std::string_view target, std::string_view name,
                           std::string_view entry, const FileIdentity& identity);

// One record read back: "T" has `target` and `name`, "U" `source` and
// `name`, "W" and "X" all three, "P" and "N" all but `taken`, "K" all but
// `identity`.
struct JournalRecord {
  char kind = 0;
  std::string source;  // folder below the source root
  std::string target;  // folder below the target root
  std::string name;
  std::string entry;
  std::string taken;
  FileIdentity identity;
};

struct JournalText {
  std::string source_root;
  std::string target_root;
  std::string below;  // below the target root, the folder the source's files go to
  std::vector<LogMark> logs;
  std::vector<JournalRecord> records;
  std::size_t whole = 0;  // the bytes of the whole records
  std::string chain;      // the last whole record's seal
};

// Reads a journal written with `separator` and sealed under `key`; false,
// with why, when any part of it is not as this program writes it or not
// sealed under that key. A last record cut short by a kill is dropped: what
// it would have announced never began.
bool ReadJournal(std::string_view text, char separator, const JournalKey& key, JournalText& journal,
                 std::string& why);

// The records that tell how far each move went: the last one of each file,
// in the order of the journal; temporaries' records are not among them.
std::vector<std::size_t> LastRecordOfEachMove(const std::vector<JournalRecord>& records);

// The most of a run log read back to find the entries a killed run wrote.
inline constexpr std::uint64_t kLargestLogPart = std::uint64_t{256} << 20;
// The most of a log's end read back to find a line cut short.
inline constexpr std::uint64_t kLogTail = std::uint64_t{4} << 20;  // longer than any entry

// Where to read a run log from to find the entries written since `mark`:
// a mark taken while an entry was being written falls within it, so the
// reading starts an entry's greatest length before it.
inline std::uint64_t LoggedSince(std::uint64_t mark) {
  return mark > kLogTail ? mark - kLogTail : 0;
}

// Adds the whole lines (ended by CR LF) of `text`, a run log's part read
// from `LoggedSince` a mark (from its start when `at_start`), beginning
// with the first line that begins in `text`, of those that end after
// `mark_at` (the mark's place in `text`): the entries written since.
void AddWholeLines(std::string_view text, bool at_start, std::size_t mark_at,
                   std::unordered_set<std::string>& lines);

// The last line of `tail`, a run log's end (its whole text when
// `whole_log`), when a kill cut it short before its line end.
bool CutLastLine(std::string_view tail, bool whole_log, std::string& line);

// Whether `folder` is "" or plain names each followed by `separator`.
bool IsRelativeFolder(std::string_view folder, char separator);

}  // namespace qor::platform
