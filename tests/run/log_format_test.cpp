#include "run/log_format.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/files.h"
#include "run/log_entries.h"
#include "run/log_escapes.h"
#include "run/test_paths.h"

namespace qor {
namespace {

// Control bytes and backslashes in names exist only where the log escapes
// them; where the backslash separates folders the rows that need them stop.
const bool kEscapes = platform::kSeparator == '/';

TEST(LogTextTest, WritesControlBytesAsEscapesAndKeepsEverythingElse) {
  // Where the backslash separates folders no name holds it or a control
  // byte, and the log escapes nothing: a folder named "x0A" stays itself.
  const struct {
    std::string in, out_here, out_windows;
  } cases[] = {
      {"plain name.txt", "plain name.txt", "plain name.txt"},
      {"line\nbreak", "line\\x0Abreak", "line\nbreak"},
      {"cr\rlf", "cr\\x0Dlf", "cr\rlf"},
      {std::string("tab\tdel\x7f"), "tab\\x09del\\x7F", std::string("tab\tdel\x7f")},
      {"\xff\xfe not utf-8", "\xff\xfe not utf-8", "\xff\xfe not utf-8"},
      {"sub\\x0A\\f", "sub\\x5Cx0A\\x5Cf", "sub\\x0A\\f"},
  };
  for (const auto& c : cases) EXPECT_EQ(LogText(c.in), kEscapes ? c.out_here : c.out_windows);
}

// What the walker writes for a moved file, undo reads back as that file and
// target folder; a file not moved is never read as moved.
TEST(LogFormatTest, AnEntryWrittenReadsBackAsTheFileAndTargetItWasWrittenFor) {
  const struct {
    std::string relative, target;
    bool needs_escapes;
  } cases[] = {
      {"report.txt", "/srv/archive/20210615/", false},
      {"a/b/c/d/e/f/deep name.txt", "/t/", false},
      {"\xff\xfe not utf-8/\xc3\xa9t\xc3\xa9", "/t/", false},
      {"a      MOVED to   b.txt", "/t/", false},
      {"a.txt", "/t/      MOVED to   /u/", false},
      {std::string("ctl\x01\x1f\x7f\r\n\t.txt"), "/t/", true},
      {"back\\slash/\\x0A\\x00\\", "/t/", true},
      {"sub/x.txt", "/srv/line\nbreak\\x5C/\\/", true},
      {"long.txt", "/" + std::string(60, '\n') + "/", true},  // room for every escape
  };
  for (const auto& c : cases) {
    if (c.needs_escapes && !kEscapes) continue;
    const std::string relative = Native(c.relative), target = Native(c.target);
    const EntryEnding moved = EndEntry({}, target);
    const EntryEnding failed = EndEntry({EACCES}, target);
    EXPECT_LE(moved.text.size() + 2, EntryEndingRoom(target)) << relative;
    EXPECT_LE(failed.text.size() + 2, EntryEndingRoom(target)) << relative;

    const LogEntries log =
        ReadLogEntries(LogText(relative) + moved.text + "\r\n" + LogText(relative) + failed.text +
                       "\r\n" + LogText(relative) + moved.text);
    const std::vector<LogEntry>& entries = log.entries;
    ASSERT_EQ(entries.size(), 3u) << relative;
    EXPECT_EQ(entries[0].kind, LogEntry::Moved) << relative;
    EXPECT_EQ(entries[0].relative, relative);
    EXPECT_EQ(log.target, target) << relative;
    EXPECT_EQ(entries[1].kind, LogEntry::NotMoved) << relative;
    EXPECT_EQ(entries[2].kind, LogEntry::NotMoved) << "cut off: " << relative;
  }
}

// An edited log must never lead undo out of SOURCE or to a name other than
// the one written: such a line is refused as damaged.
TEST(LogFormatTest, AMovedLineThatLeadsOutOfTheSourceIsDamaged) {
  const struct {
    std::string relative, target;
    bool needs_escapes;
  } cases[] = {
      {"./a.txt", "/t/", false},
      {"../a.txt", "/t/", false},
      {"sub/../../a.txt", "/t/", false},
      {"..", "/t/", false},
      {".hidden/a.txt", "/t/", false},
      {"sub/.a.txt", "/t/", false},
      {"sub//a.txt", "/t/", false},
      {"sub/", "/t/", false},
      {"/etc/passwd", "/t/", false},
      {"", "/t/", false},
      {"a.txt", "/t", false},
      {"a.txt", "", false},
      {"a\tb.txt", "/t/", false},
      {"a\\x00b.txt", "/t/", true},
      {"a.txt", "/t\\x00/", true},
      {"a\\x41.txt", "/t/", true},
      {"a\\x0", "/t/", true},
      {"a\\", "/t/", true},
      {"a\x7f.txt", "/t/", true},
  };
  for (const auto& c : cases) {
    if (c.needs_escapes && !kEscapes) continue;
    const std::string line = Native(c.relative) + std::string(kMovedTo) + Native(c.target);
    const std::vector<LogEntry> entries = ReadLogEntries(line + "\r\n").entries;
    ASSERT_EQ(entries.size(), 1u) << line;
    EXPECT_EQ(entries[0].kind, LogEntry::Damaged) << line;
    EXPECT_TRUE(entries[0].relative.empty()) << line;
  }
}

// Every moved entry of a run names the run's one target folder; a line that
// names another, or is longer than any entry, is damaged and the next line
// is read as usual. A file without a single entry is no log.
TEST(LogFormatTest, EntriesShareOneTargetFolderAndOverlongLinesAreDamaged) {
  const std::string moved = std::string(kMovedTo) + Native("/t/");
  const std::string elsewhere = std::string(kMovedTo) + Native("/any/folder/");
  const std::string overlong(kLongestLogLine + 1, 'x');
  const struct {
    std::string log;
    std::vector<LogEntry::Kind> kinds;
    std::string target;
    bool any_entry;
  } cases[] = {
      {"a" + moved + "\r\nb" + elsewhere + "\r\nc" + moved + "\r\n",
       {LogEntry::Moved, LogEntry::Damaged, LogEntry::Moved},
       "/t/",
       true},
      {"a" + elsewhere + "\r\nb" + moved + "\r\nc" + moved + "\r\n",
       {LogEntry::Damaged, LogEntry::Moved, LogEntry::Moved},
       "/t/",
       true},
      {overlong + moved + "\r\nb" + moved + "\r\n",
       {LogEntry::Damaged, LogEntry::Moved},
       "/t/",
       true},
      {"a" + std::string(kNotMoved) + "Permission denied\r\n", {LogEntry::NotMoved}, "", true},
      {"{\"command\": \"move\"}\n{}\n", {LogEntry::NotMoved}, "", false},
      {"one\r\ntwo\r\n", {LogEntry::Unreadable, LogEntry::Unreadable}, "", false},
      {"", {}, "", false},
  };
  for (const auto& c : cases) {
    const LogEntries log = ReadLogEntries(c.log);
    std::vector<LogEntry::Kind> kinds;
    for (const LogEntry& entry : log.entries) kinds.push_back(entry.kind);
    EXPECT_EQ(kinds, c.kinds) << c.log.substr(0, 80);
    EXPECT_EQ(log.target, Native(c.target)) << c.log.substr(0, 80);
    EXPECT_EQ(log.any_entry, c.any_entry) << c.log.substr(0, 80);
  }
}

}  // namespace
}  // namespace qor
