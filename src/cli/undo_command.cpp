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
#include "run/log_entries.h"
#include "run/log_escapes.h"
#include "run/log_format.h"
#include "run/path_text.h"
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

class Undo {
 public:
  Undo(const Options& options, Output& output, const std::string& source)
      : options_(options), output_(output), source_(source), back_(source) {}

  // Moves back one entry that the log records as moved.
  void MoveBack(const LogEntry& entry) {
    // A line that reads two ways is settled by where the file is.
    const LogEntry::Reading* reading = &entry.readings.front();
    if (entry.readings.size() > 1) {
      std::vector<const LogEntry::Reading*> present;
      for (const LogEntry::Reading& r : entry.readings) {
        if (platform::EntryExists(r.target + r.relative)) present.push_back(&r);
      }
      if (present.size() > 1) {
        ++failed_;
        output_.Problem("left alone, the entry can be read in more than one way: " +
                        LogText(entry.readings.front().relative));
        return;
      }
      if (present.size() == 1) reading = present.front();
    }
    std::string folder, name;
    SplitPlace(reading->relative, folder, name);
    const std::string shown = LogText(reading->relative);

    platform::Outcome outcome;
    if (options_.dry_run) {
      outcome = platform::EntryExists(reading->target + reading->relative)
                    ? back_.Probe(folder, name)
                    : platform::Outcome{ENOENT};
    } else {
      if (!log_.StartEntry(shown, rest_room_)) return;
      platform::FolderListing from(reading->target + folder);
      outcome = from.IsOpen() ? back_.Enter(folder) : platform::Outcome{from.OpenError()};
      if (outcome.ok()) outcome = back_.MoveHere(from, name);
      log_.AppendLine(EndEntry(outcome, source_).text);
    }
    if (outcome.ok()) {
      ++moved_;
      output_.FileLine((options_.dry_run ? "would move back: " : "moved back: ") + shown,
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
    log_.Sync();
    log_.Close();
  }

  RunLog log_;
  std::int64_t moved_ = 0;
  std::int64_t failed_ = 0;

 private:
  const Options& options_;
  Output& output_;
  const std::string source_;
  platform::TargetFolder back_;  // SOURCE, entered without following links
  std::size_t rest_room_ = 0;
};

}  // namespace

int UndoCommand(const Options& options) {
  const std::string& log_in = options.operands[0];
  std::string text;
  if (const platform::Outcome read = platform::ReadEntireFile(log_in, text); !read.ok()) {
    PrintError("the log cannot be read: " + LogText(log_in) + ": " +
               platform::ErrorText(read.error));
    return kRefused;
  }
  const std::string& source_text = options.operands[1];
  const std::string source = AddBackslash(source_text);
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
  Undo undo(options, output, source);
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
  }
  // What a killed undo left in SOURCE is finished first.
  const std::size_t recovered =
      options.dry_run ? 0 : platform::RecoverKilledRuns(source).entries.size();

  std::int64_t entries = 0, skipped = 0;
  bool interrupted = false;
  for (const LogEntry& entry : ReadLogEntries(text)) {
    if (platform::StopRequested()) {
      interrupted = true;
      break;
    }
    if (undo.log_.IsBroken()) break;
    ++entries;
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
  int status = undo.failed_ > 0 || broken ? kSomeFailed : kAllMoved;
  if (interrupted) status = kInterrupted;
  const bool dry = options.dry_run;
  std::string human = interrupted ? "interrupted: " : "";
  human += (dry ? "would move back " : "moved back ") + IntegerText(undo.moved_) + " of " +
           IntegerText(entries) + " entries";
  if (undo.failed_ > 0) human += ", " + IntegerText(undo.failed_) + " left alone";
  if (skipped > 0) human += ", " + IntegerText(skipped) + " skipped (not recorded as moved)";
  if (recovered > 0) {
    human += ", finished " + IntegerText(static_cast<std::int64_t>(recovered)) +
             " files of an interrupted undo";
  }
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
      ",\"log_broken\":" + (broken ? "true" : "false") +
      ",\"log\":" + (log_out ? JsonString(*log_out) : "null") +
      ",\"seconds\":" + output.SecondsText() + ",\"exit_status\":" + IntegerText(status) + "}";
  output.Summary(human, json);
  return status;
}

}  // namespace qor::cli
