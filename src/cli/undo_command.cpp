// qor-cli undo: moves back what a run log records as moved.

#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_checks.h"
#include "cli/log_place.h"
#include "cli/output.h"
#include "core/numbers.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/path_compare.h"
#include "platform/path_parts.h"
#include "run/log_entries.h"
#include "run/log_escapes.h"
#include "run/log_format.h"
#include "run/path_text.h"
#include "run/recovery_log.h"
#include "run/run_log.h"

namespace qor::cli {

namespace {

// The undo's own log: beside the current folder, after the log it reads.
std::string DefaultUndoLog(const std::string& log) {
  std::string name = log.substr(log.find_last_of(platform::kSeparator) + 1);
  if (name.size() > 4 && name.ends_with(".txt")) name.resize(name.size() - 4);
  return name + "-undo.txt";
}

// "a/b/name" into "a/b/" and "name".
void SplitPlace(const std::string& relative, std::string& folder, std::string& name) {
  const std::size_t cut = relative.rfind(platform::kSeparator);
  folder = cut == std::string::npos ? std::string() : relative.substr(0, cut + 1);
  name = cut == std::string::npos ? relative : relative.substr(cut + 1);
}

std::string Why(int error) {
  if (error == ENOENT) return "the moved file is gone";
  if (error == EEXIST) return "its original name is taken";
  return platform::ErrorText(error);
}

// A damaged line as stderr shows it: cut short, control bytes escaped.
std::string ShownLine(std::string_view line) {
  constexpr std::size_t kShown = 200;
  std::string shown;
  for (const char c : line.substr(0, kShown)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      shown += "\\x";
      shown.push_back("0123456789ABCDEF"[byte >> 4]);
      shown.push_back("0123456789ABCDEF"[byte & 15]);
    } else {
      shown.push_back(c);
    }
  }
  return line.size() > kShown ? shown + "..." : shown;
}

class Undo {
 public:
  Undo(const Options& options, Output& output, const std::string& source, const std::string& target)
      : options_(options),
        output_(output),
        source_(source),
        back_(source),
        target_(target),
        moved_from_(target) {
    back_.KeepJournal(target, [this] { return log_.Mark(); });
  }

  // Moves back one entry that the log records as moved.
  void MoveBack(const LogEntry& entry) {
    std::string folder, name;
    SplitPlace(entry.relative, folder, name);
    const std::string shown = LogText(entry.relative);

    platform::Outcome outcome;
    if (options_.dry_run) {
      OpenMovedFrom(folder, name, outcome);
      if (outcome.ok()) {
        outcome = platform::EntryExists(target_ + entry.relative) ? back_.Probe(folder, name)
                                                                  : platform::Outcome{ENOENT};
      }
    } else {
      if (!log_.StartEntry(shown, rest_room_)) return;
      const auto from = OpenMovedFrom(folder, name, outcome);
      if (outcome.ok()) outcome = back_.Enter(folder);
      if (outcome.ok()) {
        outcome = back_.MoveHere(*from, name, shown + EndEntry({}, source_).text);
      }
      log_.AppendLine(EndEntry(outcome, source_).text);
    }
    if (outcome.ok()) {
      ++moved_;
      output_.FileLine(options_.dry_run
                           ? "would bring back: " + shown + " -> " + LogText(source_ + folder)
                           : "moved back: " + shown,
                       options_.dry_run);
    } else {
      ++failed_;
      output_.FileLine("would leave alone: " + shown + ": " + Why(outcome.error), options_.dry_run);
      if (!options_.dry_run) output_.Problem("left alone: " + shown + ": " + Why(outcome.error));
    }
  }

  std::optional<std::string> OpenLog(const std::optional<std::string>& asked,
                                     const std::string& default_name) {
    rest_room_ = EntryEndingRoom(source_);
    return OpenCommandLog(log_, asked, default_name, source_);
  }
  void CloseLog() {
    // The files moved back on the disk before the log that names them.
    if (const platform::Outcome synced = back_.SyncMoves(); !synced.ok()) {
      output_.Problem("the files moved back may not be on the disk yet: " +
                      platform::ErrorText(synced.error));
    }
    log_.Sync();
    log_.Close();
  }

  // The folder `folder` below the log's target folder, entered one name at a
  // time without following a link, as the run made its way down; the target
  // folder itself may be a link (the user chose it).
  std::unique_ptr<platform::FolderListing> OpenMovedFrom(const std::string& folder,
                                                         const std::string& name,
                                                         platform::Outcome& outcome) const {
    auto at = std::make_unique<platform::FolderListing>(target_);
    for (const std::string& step :
         platform::FolderNames(std::string_view(folder), platform::kSeparator)) {
      if (!at->IsOpen()) break;
      at = std::make_unique<platform::FolderListing>(*at, step);
    }
    outcome = {at->OpenError()};
    if (!outcome.ok() && moved_from_.Probe(folder, name).error == platform::kLinkInTargetPath) {
      outcome = {platform::kLinkInTargetPath};
    }
    return at;
  }

  RunLog log_;
  std::int64_t moved_ = 0;
  std::int64_t failed_ = 0;

 private:
  const Options& options_;
  Output& output_;
  const std::string source_;
  platform::TargetFolder back_;        // SOURCE, entered without following links
  const std::string target_;           // where the log says the files went
  platform::TargetFolder moved_from_;  // target_, only asked why a way down is barred
  std::size_t rest_room_ = 0;
};

}  // namespace

int UndoCommand(const Options& options) {
  const std::string& log_in = options.operands[0];
  std::string text, why;
  // A log is the list of what undo moves: one that someone else could have
  // written could lead it to move anything of this user's.
  if (const platform::Outcome read = platform::ReadOwnFile(log_in, text, why); !read.ok()) {
    PrintError(read.error == platform::kNotThisUsersFile
                   ? "the log " + LogText(log_in) + " could have been written by someone else (" +
                         why +
                         "); undo takes only a log no one else can have written: read it, and "
                         "copy it into a folder of your own to undo it from there"
                   : "the log cannot be read: " + LogText(log_in) + ": " +
                         platform::ErrorText(read.error));
    return kRefused;
  }
  // The whole log is judged before anything is made.
  const LogEntries log = ReadLogEntries(text);
  if (!text.empty() && !log.any_entry) {
    PrintError("not a run log (no line of it reads as an entry): " + LogText(log_in));
    return kRefused;
  }
  const std::string& source_text = options.operands[1];
  // Named in the log so that it leads there from anywhere.
  const std::string source = AbsolutePath(AddBackslash(source_text));
  if (source_text.empty() || !platform::IsWellFormedPath(source_text)) {
    PrintError(CommandLineWords(source_text.empty() ? std::string("No Source path given")
                                                    : std::string("Source path contains errors") +
                                                          kLineBreak + source_text));
    return kRefused;
  }
  // A source folder that a run removed is made again; one whose parent is
  // missing too is more likely a typing error.
  const std::string parent =
      source.substr(0, source.find_last_of(platform::kSeparator, source.size() - 2) + 1);
  if (!platform::IsDirectory(source_text) &&
      (platform::EntryExists(source_text) ||
       !platform::IsDirectory(parent.empty() ? "." : parent))) {
    PrintError(CommandLineWords(std::string("Source path is no Directory/Folder") + kLineBreak +
                                source_text));
    return kRefused;
  }

  Output output(options.verbosity, options.json);
  Undo undo(options, output, source, log.target);
  std::optional<std::string> log_out;
  if (!options.dry_run) {
    // Writing into the log being read would lose the record of every move.
    if (options.log && platform::EntryExists(*options.log) &&
        platform::IsSameObject(*options.log, log_in)) {
      PrintError("--log " + LogText(*options.log) + " is the log to undo; give another file");
      return kRefused;
    }
    log_out = undo.OpenLog(options.log, DefaultUndoLog(log_in));
    if (!log_out) return kRefused;
    log_out = AbsolutePath(*log_out);
  }
  // What a killed undo left in SOURCE is finished first.
  platform::Recovery recovery;
  if (!options.dry_run) {
    RecoveryLogWriter writer(undo.log_);
    recovery = platform::RecoverKilledRuns(source, writer);
    LogRecoveryNotes(recovery, undo.log_);
  }
  const std::size_t recovered = recovery.logged;
  const std::vector<std::string> recovery_notes =
      RecoveryNotes(recovery.refused.size(), recovery.hidden.size());

  std::int64_t entries = 0, skipped = 0, refused = 0;
  bool interrupted = false;
  for (const LogEntry& entry : log.entries) {
    if (platform::StopRequested()) {
      interrupted = true;
      break;
    }
    if (undo.log_.IsBroken()) break;
    ++entries;
    if (entry.kind == LogEntry::Damaged) {
      ++refused;
      output.Problem(
          "refused, damaged entry: " + IntegerText(static_cast<std::int64_t>(entry.line)) + ": " +
          ShownLine(entry.text));
      continue;
    }
    if (entry.kind != LogEntry::Moved) {
      ++skipped;
      continue;
    }
    undo.MoveBack(entry);
    if (output.ProgressDue()) {
      output.ShowProgress(IntegerText(entries) + " entries, " + IntegerText(undo.moved_) +
                          " moved back, " + IntegerText(undo.failed_) + " left alone");
    }
  }
  if (log_out) undo.CloseLog();

  const bool broken = undo.log_.IsBroken();
  int status = undo.failed_ > 0 || refused > 0 || broken || !recovery_notes.empty() ? kSomeFailed
                                                                                    : kAllMoved;
  if (interrupted) status = kInterrupted;
  const bool dry = options.dry_run;
  std::string human = interrupted ? "interrupted: " : "";
  human += (dry ? "would move back " : "moved back ") + IntegerText(undo.moved_) + " of " +
           IntegerText(entries) + " entries";
  if (undo.failed_ > 0) human += ", " + IntegerText(undo.failed_) + " left alone";
  if (refused > 0) human += ", " + IntegerText(refused) + " refused as damaged";
  if (skipped > 0) human += ", " + IntegerText(skipped) + " skipped (not recorded as moved)";
  if (recovered > 0) {
    human += ", finished " + IntegerText(static_cast<std::int64_t>(recovered)) +
             " files of an interrupted undo";
  }
  for (const std::string& note : recovery_notes) human += ", " + note + " (see the log)";
  if (broken) {
    human += "; the log could not be written (" + platform::ErrorText(undo.log_.WriteError()) +
             "), no further file was moved";
  }
  human += log_out ? "; log: " + LogText(*log_out) : "; nothing was changed";
  const std::string json =
      "{\"command\":\"undo\",\"dry_run\":" + std::string(dry ? "true" : "false") +
      ",\"interrupted\":" + (interrupted ? "true" : "false") +
      ",\"entries\":" + IntegerText(entries) + ",\"moved\":" + IntegerText(undo.moved_) +
      ",\"failed\":" + IntegerText(undo.failed_) + ",\"skipped\":" + IntegerText(skipped) +
      ",\"damaged_entries\":" + IntegerText(refused) +
      ",\"log_broken\":" + (broken ? "true" : "false") +
      ",\"log\":" + (log_out ? JsonString(*log_out) : "null") + ",\"started\":\"" +
      output.StartedText() + "\",\"ended\":\"" + Output::NowText() +
      "\",\"seconds\":" + output.SecondsText() + ",\"exit_status\":" + IntegerText(status) + "}";
  output.Summary(human, json);
  return status;
}

}  // namespace qor::cli
