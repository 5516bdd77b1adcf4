#pragma once

#include <string>
#include <string_view>

#include "platform/text_file.h"

namespace qor {

// The log of one run: one entry per taken file, CR LF line ends. Every piece
// reaches the file as it is written. Once a write fails the log counts as
// broken and the walk takes no further file.
class RunLog {
 public:
  // Creates the log, or empties an existing one of the same name (or, with
  // IfNotEmpty::Refuse, leaves one that holds something as it is).
  platform::Outcome Create(const std::string& path, platform::TextFile::IfNotEmpty if_not_empty =
                                                        platform::TextFile::IfNotEmpty::Empty);
  // Creates the log `name` for a new run; an earlier run's log of that name
  // that holds something is first kept under the next free numbered name
  // ("FileFind20210615-2.txt", -3, ...), which `kept_as` gets: no run's
  // record is ever emptied. Where it cannot be kept, the error is the
  // rename's, `kept_as` names where it was to go, and nothing is created.
  platform::Outcome CreateKeepingEarlier(const std::string& name, std::string& kept_as);
  // Closes the log and removes it when nothing was ever written into it
  // (TextFile::CloseRemovingIfEmpty); true when it went.
  bool CloseRemovingIfEmpty();
  // Makes room in the log for `first_piece` and `rest_room` more bytes, then
  // appends `first_piece`. When the room cannot be had the log counts as
  // broken and nothing is appended, so that an entry is never begun that
  // might not be finished.
  bool StartEntry(std::string_view first_piece, std::size_t rest_room);
  // Makes room for an entry that is written whole later, with HoldEntry,
  // once its move is over: `first_piece` and `rest_room` more bytes beyond
  // what is held and reserved so. False as StartEntry.
  bool ReserveEntry(std::string_view first_piece, std::size_t rest_room);
  // The whole entry reserved so, `first_piece`, `ending` and a line end,
  // written as an ending is.
  void HoldEntry(std::string_view first_piece, std::string_view ending, std::size_t rest_room);
  // Ends the entry begun last with `text` and a line end. The ending goes to
  // the file together with what is written next (most often the next
  // entry's first piece: one write per file), or at the latest with Flush,
  // Sync or Close.
  void EndEntry(std::string_view text);
  // Writes an ending still held; also once the log is broken, as its room
  // was made when its entry began.
  bool Flush();
  // As Flush; true when all that was held reached the file, also where the
  // log broke before for want of room for an entry to come.
  bool FlushHeld();
  // Appends `text` as written.
  bool Append(std::string_view text);
  // Appends `text` and a line end.
  bool AppendLine(std::string_view text);
  // Brings the log to the disk; a failure breaks it.
  bool Sync();
  platform::Outcome Close();
  // True when `identity` is this log's own file.
  bool IsLogFile(const platform::FileIdentity& identity) const {
    return file_.IsOpen() && identity == file_.Identity();
  }

  // Where the log lies, and how much of it is written: a run's journal
  // names it, for a later run that finishes the run's moves after a kill.
  platform::LogMark Mark() const { return {path_, file_.Identity(), file_.Written()}; }

  bool IsBroken() const { return write_error_ != 0; }
  int WriteError() const { return write_error_; }

 private:
  // Writes `text` after the ending held, in one piece.
  bool Write(std::string_view text);

  platform::TextFile file_;
  int write_error_ = 0;
  std::string held_;       // an entry's ending, or whole entries, not written yet
  std::size_t ahead_ = 0;  // room reserved for entries not held yet
  std::string path_;       // whole
};

// "FileFind" + DateStamp + ".txt".
std::string RunLogName(const std::string& date_stamp);

// `name` with "-<number>" before its ".txt" (or at its end).
std::string NumberedName(const std::string& name, int number);

}  // namespace qor
