#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "cli/options.h"

namespace qor::cli {

// What the user sees of a command: lines about single files, a progress
// line while stderr is a terminal, and one summary at the end (one JSON
// object on stdout with --json).
class Output {
 public:
  Output(Verbosity verbosity, bool json);
  // Writes the file lines still held.
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // A line about one file: printed when `always` (a dry run's list) or with
  // --verbose, on stdout, or on stderr when stdout carries the JSON summary.
  // A dry run's lines go out together, at least every tenth of a second and
  // before anything else is printed: one write per line cost a preview half
  // its time.
  void FileLine(const std::string& text, bool always);
  // A problem with one file, folder or entry, on stderr even with --quiet:
  // the operator must hear of every file that stayed.
  void Problem(const std::string& text);
  // True when a fresh progress line is due: a terminal, not --quiet, and a
  // tenth of a second since the last one.
  bool ProgressDue();
  void ShowProgress(const std::string& text);
  // `human` on stderr unless --quiet or --json; `json` on stdout with --json.
  void Summary(const std::string& human, const std::string& json);

  // Since the command began, as "1.234".
  std::string SecondsText() const;
  // When the command began, and now: ISO 8601 in UTC, "2026-12-09T16:40:05.123Z".
  std::string StartedText() const;
  static std::string NowText();
  std::int64_t Milliseconds() const;

 private:
  void ClearProgress();
  void WriteHeldLines();

  Verbosity verbosity_;
  bool json_;
  bool terminal_;
  bool progress_shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::system_clock::time_point started_;
  std::chrono::steady_clock::time_point last_progress_;
  std::string held_;  // file lines not yet written
  std::chrono::steady_clock::time_point held_since_;
};

// `at` as ISO 8601 in UTC, to the millisecond: "2026-12-09T16:40:05.123Z".
std::string UtcText(std::chrono::system_clock::time_point at);

// A byte count for people: "512 bytes", "4.2 MiB".
std::string ByteText(std::uint64_t bytes);

// Bytes per second over `milliseconds`, for people: "4.2 MiB/s".
std::string RateText(std::uint64_t bytes, std::int64_t milliseconds);

// A JSON string of the bytes `text`. Bytes that are not UTF-8 become the
// lone surrogates U+DC80 to U+DCFF, the convention by which Python, for one,
// gets file names back byte for byte.
std::string JsonString(const std::string& text);

}  // namespace qor::cli
