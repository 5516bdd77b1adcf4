// qor-cli move: the window's run without the window.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "checks/check_date.h"
#include "checks/check_paths.h"
#include "cli/calendar.h"
#include "cli/commands.h"
#include "cli/console_checks.h"
#include "cli/log_place.h"
#include "cli/output.h"
#include "core/failure_text.h"
#include "core/numbers.h"
#include "platform/civil_days.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/path_compare.h"
#include "platform/process.h"
#include "run/find_file.h"
#include "run/log_escapes.h"
#include "run/move_run.h"
#include "run/recovery_log.h"
#include "run/run_log.h"

namespace qor::cli {

namespace {

// The reference date and compare mode that WHEN stands for; nullopt (after
// saying why) when its value cannot be read.
struct Choice {
  Date date;
  std::int16_t mode = kCompareEqual;
};

// The earliest day the date checks accept.
constexpr Date kEarliest{1990, 1, 1};

std::int64_t DayNumber(const Date& date) {
  return platform::DaysFromCivil({date.year, date.month, date.day});
}

// Judged here rather than by the window's checks, whose messages speak of
// boxes and years the user never typed.
std::optional<Choice> ReadWhen(const Options& options) {
  const When when = *options.when;
  const std::string name = WhenName(when);
  const std::string& text = options.when_value;
  const platform::CalendarDate now = platform::Today();
  const Date today{now.year, now.month, now.day};
  if (when == When::OlderThan || when == When::NewerThan) {
    // Days, with "d" after them or not, or weeks with "w".
    const bool weeks = text.ends_with('w');
    const std::string number = text.substr(0, text.size() - (weeks || text.ends_with('d')));
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
      PrintError(name + ": '" + LogText(text) + "' is not a whole number of days (90, 90d, or 13w" +
                 " for weeks)");
      return std::nullopt;
    }
    const std::int64_t most = DayNumber(today) - DayNumber(kEarliest);
    const std::int64_t days = number.size() > 9 ? most + 1 : std::stoll(number) * (weeks ? 7 : 1);
    if (days > most) {
      PrintError(name + ": at most " + IntegerText(most) + " days (back to " + DateText(kEarliest) +
                 ", the earliest date taken)");
      return std::nullopt;
    }
    // Newer than 0 days would be after today, which no file is.
    if (when == When::NewerThan && days == 0) {
      PrintError(name + " 0 can never match: it takes files last written after today; " +
                 "give 1 or more (1: written today)");
      return std::nullopt;
    }
    // Older than N days: last written before the day N days ago; newer than
    // N days: after it.
    const Date reference = AddDays(today, -days);
    return Choice{reference, when == When::OlderThan ? kCompareBefore : kCompareAfter};
  }
  const std::optional<Date> date = ParseDate(text);
  if (!date) {
    PrintError(name + ": '" + LogText(text) + "' is not a date; write YYYY-MM-DD");
    return std::nullopt;
  }
  if (date->month < 1 || date->month > 12 || date->day < 1 ||
      date->day > DaysInMonth(date->year, date->month)) {
    PrintError(text + " is not a date");
    return std::nullopt;
  }
  if (DayNumber(*date) < DayNumber(kEarliest)) {
    PrintError(name + ": " + text + " lies before " + DateText(kEarliest) +
               ", the earliest date taken");
    return std::nullopt;
  }
  if (DayNumber(*date) > DayNumber(today)) {
    PrintError(name + ": " + text + " lies in the future");
    return std::nullopt;
  }
  const std::int16_t mode = when == When::On       ? kCompareEqual
                            : when == When::Before ? kCompareBefore
                                                   : kCompareAfter;
  return Choice{*date, mode};
}

// Files and folders named one by one in the JSON summary; the rest counted.
constexpr std::size_t kListedFailures = 1000;

// Reports the walk as it goes: file lines, progress and the bytes taken.
class MoveReport : public WalkObserver {
 public:
  // `header` goes before a preview's first line.
  MoveReport(Output& output, const SearchParams& params, std::string header)
      : output_(output), params_(params), header_(std::move(header)) {}

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
    if (!moved) Remember(relative_name, reason, failures_);
    if (params_.DryRun) {
      if (!header_said_) {
        header_said_ = true;
        output_.FileLine(header_, true);
      }
      output_.FileLine(moved ? "would move: " + name + " -> " + LogText(TargetOf(relative_name))
                             : "would fail: " + name + ": " + reason,
                       true);
    } else if (moved) {
      output_.FileLine("moved: " + name, false);
    } else {
      output_.Problem("not moved: " + name + ": " + reason);
    }
  }
  void JournalLost(const std::string& why) override {
    output_.Problem(JournalProblemText(why));
    journal_lost_said_ = true;
  }
  bool journal_lost_said() const { return journal_lost_said_; }
  void FolderUnread(const std::string& relative_folder, const std::string& reason) override {
    Remember(relative_folder, reason, unread_);
    output_.Problem("folder not read: " +
                    (relative_folder.empty() ? std::string("SOURCE") : LogText(relative_folder)) +
                    ": " + reason);
  }

  // The failures as JSON: an array of at most kListedFailures objects, and
  // a count of those left out.
  std::string FailuresJson() const { return ListJson("failed_files", failures_); }
  std::string UnreadJson() const { return ListJson("unread_folder_names", unread_); }

  std::int64_t moved_files() const { return moved_files_; }
  std::uint64_t moved_bytes() const { return moved_bytes_; }

 private:
  struct Failures {
    std::vector<std::pair<std::string, std::string>> listed;  // path, reason
    std::int64_t left_out = 0;
  };
  static void Remember(const std::string& path, const std::string& reason, Failures& failures) {
    if (failures.listed.size() < kListedFailures) {
      failures.listed.emplace_back(path, reason);
    } else {
      ++failures.left_out;
    }
  }
  static std::string ListJson(const std::string& key, const Failures& failures) {
    std::string json = "\"" + key + "\":[";
    for (const auto& [path, reason] : failures.listed) {
      if (json.back() != '[') json += ",";
      json += "{\"path\":" + JsonString(path) + ",\"reason\":" + JsonString(reason) + "}";
    }
    return json + "],\"" + key + "_left_out\":" + IntegerText(failures.left_out);
  }

  // The folder the file `relative_name` goes to.
  std::string TargetOf(const std::string& relative_name) const {
    const std::size_t cut = relative_name.find_last_of(platform::kSeparator);
    return params_.TargetPath +
           (cut == std::string::npos ? std::string() : relative_name.substr(0, cut + 1));
  }

  Output& output_;
  const SearchParams& params_;
  const std::string header_;
  bool header_said_ = false;
  std::int64_t moved_files_ = 0;
  std::uint64_t moved_bytes_ = 0;
  Failures failures_;
  Failures unread_;
  bool journal_lost_said_ = false;
};

std::string Plural(std::int64_t count, const char* one, const char* many) {
  return IntegerText(count) + " " + (count == 1 ? one : many);
}

const char* CompareWord(std::int16_t mode) {
  return mode == kCompareEqual ? "on" : mode == kCompareBefore ? "before" : "after";
}

int Summarize(Output& output, const SearchParams& params, const MoveReport& report,
              const Date& date, const RunLog& log, const std::optional<std::string>& log_path,
              bool interrupted) {
  const bool dry = params.DryRun;
  int status = kAllMoved;
  if (params.FailedCount > 0 || params.UnreadFolders > 0 || log.IsBroken() ||
      params.JournalsRefused > 0 || params.RecoveryHidden > 0) {
    status = kSomeFailed;
  }
  if (interrupted) status = kInterrupted;

  std::string human = interrupted ? "interrupted: " : "";
  human += (dry ? "would move " : "moved ") + Plural(report.moved_files(), "file", "files") + " (" +
           ByteText(report.moved_bytes()) + ")";
  if (params.FailedCount > 0) {
    human += dry ? ", " + IntegerText(params.FailedCount) + " would fail (name taken)"
                 : ", " + IntegerText(params.FailedCount) + " could not be moved";
  }
  if (params.HeldByAnotherRun > 0) {
    human += ", " + IntegerText(params.HeldByAnotherRun) + " held by another run (left to it)";
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
  for (const std::string& note : RecoveryNotes(static_cast<std::size_t>(params.JournalsRefused),
                                               static_cast<std::size_t>(params.RecoveryHidden))) {
    human += ", " + note + " (see the log)";
  }
  if (!params.JournalProblem.empty() && !report.journal_lost_said()) {
    output.Problem(JournalProblemText(params.JournalProblem));
  }
  human += "; searched " + Plural(params.SearchedCount, "entry", "entries") + " in " +
           output.SecondsText() + " s";
  if (log.IsBroken()) {
    human += "; the run log could not be written (" + platform::ErrorText(log.WriteError()) +
             "), no further file was taken";
  }
  human += log_path ? "; log: " + LogText(*log_path)
           : dry    ? "; nothing was changed"
                    : "; no file taken; no log written";

  std::string json =
      "{\"command\":\"move\",\"dry_run\":" + std::string(dry ? "true" : "false") +
      ",\"source\":" + JsonString(params.SourcePath) +
      ",\"target\":" + JsonString(params.TargetPath) + ",\"date\":\"" + DateText(date) +
      "\",\"compare\":\"" + CompareWord(params.CompareMode) + "\"" +
      ",\"interrupted\":" + (interrupted ? "true" : "false") +
      ",\"searched\":" + IntegerText(params.SearchedCount) +
      ",\"taken\":" + IntegerText(params.MovedCount) +
      ",\"moved\":" + IntegerText(report.moved_files()) +
      ",\"failed\":" + IntegerText(params.FailedCount) +
      ",\"held_by_another_run\":" + IntegerText(params.HeldByAnotherRun) +
      ",\"unread_folders\":" + IntegerText(params.UnreadFolders) + "," + report.FailuresJson() +
      "," + report.UnreadJson() + ",\"recovered\":" + IntegerText(params.RecoveredCount) +
      ",\"journals_left_alone\":" + IntegerText(params.JournalsRefused) +
      ",\"recovery_hidden\":" + IntegerText(params.RecoveryHidden) + ",\"journal_problem\":" +
      (params.JournalProblem.empty() ? std::string("null") : JsonString(params.JournalProblem)) +
      ",\"bytes\":" + std::to_string(report.moved_bytes()) +
      ",\"log_broken\":" + (log.IsBroken() ? "true" : "false") +
      ",\"log\":" + (log_path ? JsonString(*log_path) : "null") + ",\"started\":\"" +
      output.StartedText() + "\",\"ended\":\"" + Output::NowText() +
      "\",\"seconds\":" + output.SecondsText() + ",\"exit_status\":" + IntegerText(status) + "}";
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
  if (!CheckPaths(inputs, inputs)) return kRefused;

  const std::string date_stamp = MakeDateStamp(date.year, date.month, date.day);
  params.SourcePath = inputs.PathText(kSourceBox);
  params.TargetPath = inputs.PathText(kTargetBox);
  if (options.date_folder) params.TargetPath += date_stamp + platform::kSeparator;
  params.DateFolder = options.date_folder;
  params.CompareMode = choice->mode;
  params.WholeDates = true;
  params.Recurse = options.recursive;
  params.DeleteEmpty = options.remove_empty;
  params.EmptiedOnly = true;
  params.DryRun = options.dry_run;
  params.VerifyCopies = options.verify;
  params.Jobs = options.jobs;
  if (!options.filter.empty()) params.Filter = &options.filter;
  if (options.min_size) params.MinSize = *options.min_size;
  if (options.max_size) params.MaxSize = *options.max_size;
  params.MaxDepth = options.max_depth;

  if (!params.DryRun) {
    if (const platform::Outcome made = platform::MakeSureFolderPathExists(params.TargetPath);
        !made.ok()) {
      PrintError("the target folder cannot be made: " + LogText(params.TargetPath) + ": " +
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
    PrintError("the date folder " + LogText(params.TargetPath) +
               " leads into SOURCE; the run would take its own moves again");
    return kRefused;
  }

  // The log and the summary name the folders so that they lead there from
  // anywhere (an undo started elsewhere, a reader of the JSON).
  params.SourcePath = AbsolutePath(params.SourcePath);
  params.TargetPath = AbsolutePath(params.TargetPath);

  RunLog log;
  std::optional<std::string> log_path;
  bool log_made = false;  // no file of its name was there before
  if (!params.DryRun) {
    log_path =
        OpenCommandLog(log, options.log, RunLogName(date_stamp), params.SourcePath, &log_made);
    if (!log_path) return kRefused;
    log_path = AbsolutePath(*log_path);
  }

  Output output(options.verbosity, options.json);
  MoveReport report(output, params,
                    std::string("files last written ") + CompareWord(params.CompareMode) + " " +
                        DateText(date) + ", from " + LogText(params.SourcePath) + " to " +
                        LogText(params.TargetPath) + ":");
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
    // A log the run made and wrote nothing into goes, unless it was asked
    // for by name: a nightly run that found nothing leaves no empty file.
    if (!options.log && log_made && params.MovedCount == 0 && params.RecoveredCount == 0 &&
        !log.IsBroken() && log.CloseRemovingIfEmpty()) {
      log_path.reset();
    } else {
      log.Close();
    }
  }
  if (!stopped_by.empty()) PrintError("the run stopped early: " + stopped_by);
  const int status = Summarize(output, params, report, date, log, log_path, interrupted);
  return stopped_by.empty() || status != kAllMoved ? status : kSomeFailed;
}

}  // namespace qor::cli
