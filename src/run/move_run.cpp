#include "run/move_run.h"

#include <cstdio>

#include "core/failure_text.h"
#include "core/numbers.h"
#include "platform/files.h"
#include "platform/path_compare.h"
#include "platform/process.h"
#include "run/find_file.h"
#include "run/recovery_log.h"
#include "run/run_log.h"

namespace qor {

namespace {

// The closing message: the number of files taken, then what went wrong, if
// anything, so that a failure never reads as plain success.
std::string ClosingMessage(const SearchParams& params, const RunLog& log,
                           const std::string& log_path) {
  std::string text = IntegerText(params.MovedCount);
  if (params.FailedCount > 0) {
    text += kLineBreak;
    text += IntegerText(params.FailedCount) + " of them could not be moved; see " + log_path;
  }
  if (params.HeldByAnotherRun > 0) {
    text += kLineBreak;
    text += IntegerText(params.HeldByAnotherRun) +
            " of them were being moved by another run, and are left to it";
  }
  if (params.LeftHidden > 0) {
    text += kLineBreak;
    text += IntegerText(params.LeftHidden) +
            " of them changed meanwhile and are left under a hidden name beside their own; see " +
            log_path;
  }
  if (params.UnreadFolders > 0) {
    text += kLineBreak;
    text += IntegerText(params.UnreadFolders) +
            (params.UnreadFolders == 1 ? " folder" : " folders") + " could not be read";
  }
  if (params.RecoveredCount > 0) {
    text += kLineBreak;
    text += IntegerText(params.RecoveredCount) + (params.RecoveredCount == 1 ? " file" : " files") +
            " of an interrupted run finished; see " + log_path;
  }
  for (const std::string& note : RecoveryNotes(static_cast<std::size_t>(params.JournalsRefused),
                                               static_cast<std::size_t>(params.RecoveryHidden))) {
    text += kLineBreak;
    text += note + "; see " + log_path;
  }
  if (!params.JournalProblem.empty()) {
    text += kLineBreak;
    text += JournalProblemText(params.JournalProblem);
  }
  if (log.IsBroken()) {
    text += kLineBreak;
    text += "The run log could not be written (" + platform::ErrorText(log.WriteError()) +
            "); no further file was taken";
  }
  return text;
}

}  // namespace

std::string MakeDateStamp(int year, int month, int day) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", year, month, day);
  return buffer;
}

RunOutcome RunMove(RunWindow& window, SearchParams& params) {
  if (!window.CheckDate()) return RunOutcome::Refused;
  if (!window.CheckPaths()) return RunOutcome::Refused;

  const std::string date_stamp = MakeDateStamp(params.Year, params.Month, params.Day);
  params.SourcePath = window.PathText(kSourceBox);
  params.TargetPath = window.PathText(kTargetBox);
  const bool add_date = window.CheckValue(CheckBox::AddDateTarget) != 0;
  if (add_date) params.TargetPath += date_stamp + platform::kSeparator;
  params.DateFolder = add_date;

  if (!platform::MakeSureFolderPathExists(params.TargetPath).ok()) {
    window.ShowMessage(std::string("fail") + kLineBreak + params.TargetPath, "Target create");
    return RunOutcome::Refused;
  }
  // The path check saw the target box only; a date folder that already
  // exists as a link into the source would have the run take its own moves
  // again, deeper each time.
  if (add_date && platform::RelateFolders(platform::RealPath(params.TargetPath),
                                          platform::RealPath(params.SourcePath)) !=
                      platform::FolderRelation::Apart) {
    window.ShowMessage("zyclic copy", "Arrgh");
    return RunOutcome::Refused;
  }

  // The log lies in the current folder. Without it no file may move, since
  // a moved file must never lack its record.
  // Messages name it with its folder: started from a desktop menu, the
  // current folder is one the user never chose.
  const std::string log_name = RunLogName(date_stamp);
  const std::string folder = platform::CurrentFolder();
  const std::string full_path = folder.empty() || folder.back() == platform::kSeparator
                                    ? folder + log_name
                                    : folder + platform::kSeparator + log_name;
  // An earlier run's log of that name is kept beside it, never emptied: it
  // is the only record of where that run's files went.
  RunLog log;
  std::string kept_as;
  if (const platform::Outcome created = log.CreateKeepingEarlier(log_name, kept_as);
      !created.ok()) {
    const std::string why = kept_as.empty()
                                ? platform::ErrorText(created.error)
                                : "the earlier log of that name cannot be kept as " + kept_as +
                                      ": " + platform::ErrorText(created.error);
    window.ShowMessage(
        std::string("Run log cannot be created") + kLineBreak + full_path + kLineBreak + why,
        "Arrgh");
    return RunOutcome::Refused;
  }

  window.SetGoEnabled(false);
  window.SetRunActive(true);
  for (int label = 0; label < 3; ++label) window.SetCounterLabel(label, "0");
  params.MovedCount = 0;
  params.HeldByAnotherRun = 0;
  params.MovedKB = 0;
  params.SearchedCount = 0;
  params.FailedCount = 0;
  params.UnreadFolders = 0;
  params.RecoveredCount = 0;
  params.LeftHidden = 0;
  params.JournalsRefused = 0;
  params.RecoveryHidden = 0;
  params.JournalProblem.clear();
  window.SetInputsEnabled(false);
  window.SetTimerInterval(kTimerInterval);
  window.SetGoCaption("working...");

  std::string stopped_by;
  try {
    if (FindFile(params.SourcePath, params, log, window) == WalkEnd::Abandoned) {
      log.Close();
      return RunOutcome::Abandoned;
    }
  } catch (...) {
    // Every move still on its way was given up on the way out; the log is
    // true up to here, and the closing message says the run did not end.
    stopped_by = CurrentFailureText();
  }

  window.SetGoCaption("GO");
  window.SetInputsEnabled(true);
  window.SetTimerInterval(0);
  log.Sync();  // a late write error still reaches the closing message
  std::string closing = ClosingMessage(params, log, full_path);
  if (!stopped_by.empty()) {
    closing += kLineBreak;
    closing += "The run stopped early (" + stopped_by + "); the files before are moved and logged";
  }
  window.ShowMessage(closing, "DONE moving");
  log.Close();
  if (window.IsClosing()) return RunOutcome::Abandoned;
  window.SetRunActive(false);
  window.SetGoEnabled(true);
  return RunOutcome::Completed;
}

}  // namespace qor
