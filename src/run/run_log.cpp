#include "run/run_log.h"

#include "core/message_box.h"

namespace qor {

platform::Outcome RunLog::Create(const std::string& path,
                                 platform::TextFile::IfNotEmpty if_not_empty) {
  write_error_ = 0;
  return file_.Create(path, if_not_empty);
}

bool RunLog::StartEntry(std::string_view first_piece, std::size_t rest_room) {
  if (IsBroken()) return false;
  const platform::Outcome reserved = file_.Reserve(first_piece.size() + rest_room);
  if (!reserved.ok()) {
    write_error_ = reserved.error;
    return false;
  }
  return Append(first_piece);
}

bool RunLog::Append(std::string_view text) {
  if (IsBroken()) return false;
  const platform::Outcome written = file_.Write(text);
  if (!written.ok()) write_error_ = written.error;
  return written.ok();
}

bool RunLog::AppendLine(std::string_view text) {
  std::string line(text);
  line += kLineBreak;
  return Append(line);
}

bool RunLog::Sync() {
  if (IsBroken()) return false;
  const platform::Outcome synced = file_.Sync();
  if (!synced.ok()) write_error_ = synced.error;
  return synced.ok();
}

platform::Outcome RunLog::Close() {
  const platform::Outcome closed = file_.Close();
  if (!closed.ok() && write_error_ == 0) write_error_ = closed.error;
  return closed;
}

std::string RunLogName(const std::string& date_stamp) {
  return "FileFind" + date_stamp + ".txt";
}

}  // namespace qor
