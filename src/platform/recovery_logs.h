#pragma once

// The run logs a killed run's journal names, as the run that finishes its
// work reads them: which of its moves they hold already, the entry a kill
// cut short at one's end, and that piece dropped once every move is logged
// whole. Alike on every system; each system opens and reads the files.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/files.h"

namespace qor::platform {

// The log `mark` names, opened at its path, or where a later run put it
// aside in the same folder (the window keeps an earlier log of the day's
// name under a number), found there by its identity; never through a link,
// never a pipe or a folder. Opened `to_cut` only where no living run writes
// it (Linux: its lock; Windows: its sharing).
class LogFile {
 public:
  LogFile(const LogMark& mark, bool to_cut);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  bool IsOpen() const { return open_; }
  std::uint64_t Size() const { return size_; }
  // Up to `most` bytes from `from` on, appended to `text`; false when a read
  // failed or there were more.
  bool Read(std::uint64_t from, std::uint64_t most, std::string& text);
  // Cuts it short to `size` and brings it to the disk.
  bool CutTo(std::uint64_t size);

 private:
  struct State;  // the system's handle of it
  std::unique_ptr<State> state_;
  bool open_ = false;
  std::uint64_t size_ = 0;
};

// The complete lines of the logs a journal names, each log read once, from
// where the journal's last batch began in it.
std::unordered_set<std::string> LoggedLines(const std::vector<LogMark>& marks);

// The last line of the log `mark` names when it was cut short before its
// line end, as a kill leaves the entry of the file in flight; false when
// the log ends with a whole line, or is gone or replaced.
bool CutLastLineOf(const LogMark& mark, std::string& line);

// That piece goes, once every move of the killed run is logged whole: it is
// no entry (a reader takes it for a file not dealt with), and a person
// reading it would take a move logged again for one logged twice. Not while
// a living run writes the log, nor anything but that piece.
void DropCutLastLine(const LogMark& mark);

}  // namespace qor::platform
