#include "run/run_log.h"

#include <algorithm>

#include "core/message_box.h"
#include "platform/files.h"

namespace qor {

platform::Outcome RunLog::Create(const std::string& path,
                                 platform::TextFile::IfNotEmpty if_not_empty) {
  write_error_ = 0;
  const platform::Outcome created = file_.Create(path, if_not_empty);
  if (created.ok()) path_ = platform::RealPath(path);
  return created;
}

bool RunLog::StartEntry(std::string_view first_piece, std::size_t rest_room) {
  if (IsBroken()) return false;
  const platform::Outcome reserved = file_.Reserve(held_.size() + first_piece.size() + rest_room);
  if (!reserved.ok()) {
    Flush();
    if (!IsBroken()) write_error_ = reserved.error;
    return false;
  }
  return Append(first_piece);
}

bool RunLog::ReserveEntry(std::string_view first_piece, std::size_t rest_room) {
  if (IsBroken()) return false;
  const std::size_t room = first_piece.size() + rest_room;
  const platform::Outcome reserved = file_.Reserve(held_.size() + ahead_ + room);
  if (!reserved.ok()) {
    Flush();
    if (!IsBroken()) write_error_ = reserved.error;
    return false;
  }
  ahead_ += room;
  return true;
}

void RunLog::HoldEntry(std::string_view first_piece, std::string_view ending,
                       std::size_t rest_room) {
  ahead_ -= std::min(ahead_, first_piece.size() + rest_room);
  held_ += first_piece;
  EndEntry(ending);
}

void RunLog::EndEntry(std::string_view text) {
  held_ += text;
  held_ += kLineBreak;
}

bool RunLog::Flush() {
  FlushHeld();
  return !IsBroken();
}

bool RunLog::FlushHeld() {
  if (held_.empty()) return true;
  const platform::Outcome written = file_.Write(held_);
  held_.clear();
  if (!written.ok() && !IsBroken()) write_error_ = written.error;
  return written.ok();
}

bool RunLog::Append(std::string_view text) {
  if (IsBroken()) {
    Flush();
    return false;
  }
  return Write(text);
}

bool RunLog::Write(std::string_view text) {
  platform::Outcome written;
  if (held_.empty()) {
    written = file_.Write(text);
  } else {
    held_ += text;
    written = file_.Write(held_);
    held_.clear();
  }
  if (!written.ok()) write_error_ = written.error;
  return written.ok();
}

bool RunLog::AppendLine(std::string_view text) {
  std::string line(text);
  line += kLineBreak;
  return Append(line);
}

bool RunLog::Sync() {
  Flush();
  if (IsBroken()) return false;
  const platform::Outcome synced = file_.Sync();
  if (!synced.ok()) write_error_ = synced.error;
  return synced.ok();
}

platform::Outcome RunLog::Close() {
  Flush();
  const platform::Outcome closed = file_.Close();
  if (!closed.ok() && write_error_ == 0) write_error_ = closed.error;
  return closed;
}

std::string RunLogName(const std::string& date_stamp) {
  return "FileFind" + date_stamp + ".txt";
}

}  // namespace qor
