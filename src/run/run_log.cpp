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

namespace {

// Whether another run holds the log `path` open for writing now.
bool HeldByAnotherRun(const std::string& path) {
  platform::TextFile probe;
  return probe.Create(path, platform::TextFile::IfNotEmpty::Refuse).error ==
         platform::kInUseByAnotherRun;
}

}  // namespace

platform::Outcome RunLog::CreateKeepingEarlier(const std::string& name, std::string& kept_as) {
  constexpr int kMostNumbers = 9999;
  kept_as.clear();
  std::string kept;  // where an earlier log went
  // Again after keeping it: another run may have written that name meanwhile.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const platform::Outcome created = Create(name, platform::TextFile::IfNotEmpty::Refuse);
    // What is not this user's (a file someone else put there, a link, a
    // pipe) goes aside as an earlier log would, where it can; else the run
    // does not start.
    if (created.error != platform::kNotEmpty && created.error != platform::kNotThisUsersFile) {
      if (created.ok()) kept_as = kept;
      return created;
    }
    bool gone = false;
    for (int number = 2; number <= kMostNumbers && !gone; ++number) {
      const std::string aside = NumberedName(name, number);
      if (platform::EntryExists(aside)) continue;
      const platform::Outcome moved = platform::MoveFileNoReplace(name, aside);
      if (moved.ok() && HeldByAnotherRun(aside)) {
        // Another run made the name afresh meanwhile and writes there: its
        // log goes back under its name, and this run does not start.
        platform::MoveFileNoReplace(aside, name);
        return {platform::kInUseByAnotherRun};
      }
      if (moved.ok()) {
        kept = aside;
        gone = true;
      } else if (!platform::EntryExists(name)) {
        gone = true;  // another run kept it meanwhile
      } else if (!platform::EntryExists(aside)) {
        kept_as = aside;  // not taken meanwhile: it cannot go there
        return moved;
      }
    }
    if (!gone) {
      kept_as = NumberedName(name, kMostNumbers);
      return {EEXIST};  // every number is taken
    }
  }
  return {platform::kNotEmpty};
}

bool RunLog::CloseRemovingIfEmpty() {
  Flush();
  return file_.CloseRemovingIfEmpty();
}

std::string RunLogName(const std::string& date_stamp) {
  return "FileFind" + date_stamp + ".txt";
}

std::string NumberedName(const std::string& name, int number) {
  const std::size_t folder_end = name.find_last_of(platform::kSeparator) + 1;
  const bool txt = name.size() >= folder_end + 4 + 1 && name.ends_with(".txt");
  const std::size_t cut = txt ? name.size() - 4 : name.size();
  return name.substr(0, cut) + "-" + std::to_string(number) + name.substr(cut);
}

}  // namespace qor
