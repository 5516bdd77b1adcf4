// qor-cli move: the window's run without the window.

#include <cstdint>
#include <optional>
#include <string>

#include "checks/check_date.h"
#include "checks/check_paths.h"
#include "cli/calendar.h"
#include "cli/commands.h"
#include "cli/console_checks.h"
#include "cli/output.h"
#include "core/failure_text.h"
#include "core/numbers.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/path_compare.h"
#include "platform/process.h"
#include "run/find_file.h"
#include "run/log_escapes.h"
#include "run/move_run.h"
#include "run/run_log.h"

namespace qor::cli {

namespace {

// The reference date and compare mode that WHEN stands for; nullopt (after
// saying why) when its value cannot be read.
struct Choice {
  Date date;
  std::int16_t mode = kCompareEqual;
};

std::optional<Choice> ReadWhen(const Options& options) {
  const When when = *options.when;
  if (when == When::OlderThan || when == When::NewerThan) {
    const std::string& text = options.when_value;
    // Up to six digits: more days than that reach back before any date the
    // checks accept anyway.
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
      PrintError("DAYS must be a whole number of days: " + LogText(text));
      return std::nullopt;
    }
    const platform::CalendarDate today = platform::Today();
    // Older than N days: last written before the day N days ago; newer than
    // N days: after it.
    const Date reference = AddDays({today.year, today.month, today.day}, -std::stoll(text));
    return Choice{reference, when == When::OlderThan ? kCompareBefore : kCompareAfter};
  }
  const std::optional<Date> date = ParseDate(options.when_value);
  if (!date) {
    PrintError("DATE must be written YYYY-MM-DD: " + LogText(options.when_value));
    return std::nullopt;
  }
  const std::int16_t mode = when == When::On       ? kCompareEqual
                            : when == When::Before ? kCompareBefore
                                                   : kCompareAfter;
  return Choice{*date, mode};
}

// Reports the walk as it goes: file lines, progress and the bytes taken.
class MoveReport : public WalkObserver {
 public:
  MoveReport(Output& output, const SearchParams& params) : output_(output), params_(params) {}

  void SetCounterLabel(int, const std::string&) override {}
  bool Yield() override { return !StopRequested(); }
  bool StopRequested() override {
    if (output_.ProgressDue()) {
      output_.ShowProgress("searched " + IntegerText(params_.SearchedCount) + ", " +
                           (params_.DryRun ? "would move " : "moved ") + IntegerText(moved_files_) +
                           " files, " + ByteText(moved_bytes_) + ", " +
                           RateText(moved_bytes_, output_.Milliseconds()));
    }
    return platform::StopRequested();
  }
  void FileTaken(const std::string& relative_name, std::uint64_t size, bool moved,
                 const std::string& reason) override {
    if (moved) {
      ++moved_files_;
      moved_bytes_ += size;
    }
    const std::string name = LogText(relative_name);
    if (params_.DryRun) {
      output_.FileLine(moved ? "would move: " + name : "would fail: " + name + ": " + reason, true);
    } else {
      output_.FileLine(moved ? "moved: " + name : "not moved: " + name, false);
    }
  }

  std::int64_t moved_files() const { return moved_files_; }
  std::uint64_t moved_bytes() const { return moved_bytes_; }

 private:
  Output& output_;
  const SearchParams& params_;
  std::int64_t moved_files_ = 0;
  std::uint64_t moved_bytes_ = 0;
};

std::string Plural(std::int64_t count, const char* one, const char* many) {
  return IntegerText(count) + " " + (count == 1 ? one : many);
}

int Summarize(Output& output, const SearchParams& params, const MoveReport& report,
              const RunLog& log, const std::optional<std::string>& log_path, bool interrupted) {
  const bool dry = params.DryRun;
  int status = kAllMoved;
  if (params.FailedCount > 0 || params.UnreadFolders > 0 || log.IsBroken()) status = kSomeFailed;
  if (interrupted) status = kInterrupted;

  std::string human = interrupted ? "interrupted: " : "";
  human += (dry ? "would move " : "moved ") + Plural(report.moved_files(), "file", "files") + " (" +
           ByteText(report.moved_bytes()) + ")";
  if (params.FailedCount > 0) {
    human += dry ? ", " + IntegerText(params.FailedCount) + " would fail (name taken)"
                 : ", " + IntegerText(params.FailedCount) + " could not be moved";
  }
  if (params.LeftHidden > 0) {
    human += " (" + IntegerText(params.LeftHidden) +
             " left under a hidden name beside their own; see the log)";
  }
  if (params.UnreadFolders > 0) {
    human += ", " + Plural(params.UnreadFolders, "folder", "folders") + " could not be read";
  }
  if (params.RecoveredCount > 0) {
    human +=
        ", finished " + Plural(params.RecoveredCount, "file", "files") + " of an interrupted run";
  }
  human += "; searched " + Plural(params.SearchedCount, "entry", "entries") + " in " +
           output.SecondsText() + " s";
  if (log.IsBroken()) {
    human += "; the run log could not be written (" + platform::ErrorText(log.WriteError()) +
             "), no further file was taken";
  }
  human += log_path ? "; log: " + LogText(*log_path) : "; nothing was changed";

  std::string json = "{\"command\":\"move\",\"dry_run\":" + std::string(dry ? "true" : "false") +
                     ",\"interrupted\":" + (interrupted ? "true" : "false") +
                     ",\"searched\":" + IntegerText(params.SearchedCount) +
                     ",\"taken\":" + IntegerText(params.MovedCount) +
                     ",\"moved\":" + IntegerText(report.moved_files()) +
                     ",\"failed\":" + IntegerText(params.FailedCount) +
                     ",\"unread_folders\":" + IntegerText(params.UnreadFolders) +
                     ",\"recovered\":" + IntegerText(params.RecoveredCount) +
                     ",\"bytes\":" + std::to_string(report.moved_bytes()) +
                     ",\"log_broken\":" + (log.IsBroken() ? "true" : "false") +
                     ",\"log\":" + (log_path ? JsonString(*log_path) : "null") +
                     ",\"seconds\":" + output.SecondsText() +
                     ",\"exit_status\":" + IntegerText(status) + "}";
  output.Summary(human, json);
  return status;
}

}  // namespace

int MoveCommand(const Options& options) {
  const std::optional<Choice> choice = ReadWhen(options);
  if (!choice) return kRefused;
  const Date date = choice->date;

  // The window's own checks judge the date and the two folders.
  ConsoleInputs inputs(options.operands[0], options.operands[1], date.year, date.month, date.day);
  SearchParams params;
  if (!CheckDate(inputs, inputs, params)) return kRefused;
  // The window lets the 31st of a 30-day month through; a whole date must be
  // a real one.
  if (date.day > DaysInMonth(date.year, date.month)) {
    PrintError("This is not a valid day: " + DateText(date));
    return kRefused;
  }
  if (!CheckPaths(inputs, inputs)) return kRefused;

  const std::string date_stamp = MakeDateStamp(date.year, date.month, date.day);
  params.SourcePath = inputs.PathText(kSourceBox);
  params.TargetPath = inputs.PathText(kTargetBox);
  if (options.date_folder) params.TargetPath += date_stamp + platform::kSeparator;
  params.CompareMode = choice->mode;
  params.WholeDates = true;
  params.Recurse = options.recursive;
  params.DeleteEmpty = options.remove_empty;
  params.EmptiedOnly = true;
  params.DryRun = options.dry_run;
  if (!options.filter.empty()) params.Filter = &options.filter;

  if (!params.DryRun) {
    if (const platform::Outcome made = platform::MakeSureFolderPathExists(params.TargetPath);
        !made.ok()) {
      PrintError("Target create fail: " + LogText(params.TargetPath) + ": " +
                 platform::ErrorText(made.error));
      return kRefused;
    }
  }
  // The path check saw TARGET alone; a date folder that is a link into the
  // source would have the run take its own moves again.
  if (options.date_folder && platform::PathExists(params.TargetPath) &&
      platform::RelateFolders(platform::RealPath(params.TargetPath),
                              platform::RealPath(params.SourcePath)) !=
          platform::FolderRelation::Apart) {
    PrintError("zyclic copy: " + LogText(params.TargetPath) + " leads into the source");
    return kRefused;
  }

  RunLog log;
  std::optional<std::string> log_path;
  if (!params.DryRun) {
    log_path = options.log.value_or(RunLogName(date_stamp));
    if (const platform::Outcome created = log.Create(*log_path); !created.ok()) {
      PrintError("Run log cannot be created: " + LogText(*log_path) + ": " +
                 platform::ErrorText(created.error));
      return kRefused;
    }
  }

  Output output(options.verbosity, options.json);
  MoveReport report(output, params);
  bool interrupted = false;
  std::string stopped_by;
  try {
    interrupted = FindFile(params.SourcePath, params, log, report) == WalkEnd::Abandoned;
  } catch (...) {
    // Every move still on its way was given up on the way out; what the log
    // holds is true up to here.
    stopped_by = CurrentFailureText();
  }
  if (log_path) {
    log.Sync();
    log.Close();
  }
  if (!stopped_by.empty()) PrintError("the run stopped early: " + stopped_by);
  const int status = Summarize(output, params, report, log, log_path, interrupted);
  return stopped_by.empty() || status != kAllMoved ? status : kSomeFailed;
}

}  // namespace qor::cli
