#include "cli/output.h"

#include <cstdio>

#include "core/utf8.h"
#include "platform/civil_days.h"
#include "platform/console.h"

namespace qor::cli {

namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(100);
constexpr auto kHoldLinesAtMost = std::chrono::milliseconds(100);
constexpr std::size_t kHeldBytes = 64 * 1024;

std::string Tenths(std::uint64_t value, std::uint64_t unit) {
  const std::uint64_t tenths = (value * 10 + unit / 2) / unit;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace

Output::Output(Verbosity verbosity, bool json)
    : verbosity_(verbosity),
      json_(json),
      terminal_(platform::ErrorStreamIsTerminal()),
      start_(std::chrono::steady_clock::now()),
      started_(std::chrono::system_clock::now()),
      last_progress_(start_) {}

Output::~Output() {
  WriteHeldLines();
}

void Output::FileLine(const std::string& text, bool always) {
  if (!always && verbosity_ != Verbosity::Verbose) return;
  ClearProgress();
  const auto now = std::chrono::steady_clock::now();
  if (held_.empty()) held_since_ = now;
  held_ += text;
  held_ += '\n';
  // A run's lines go out as its files move; a preview's, which cost nothing
  // else, together.
  if (!always || held_.size() >= kHeldBytes || now - held_since_ >= kHoldLinesAtMost) {
    WriteHeldLines();
  }
}

void Output::WriteHeldLines() {
  if (held_.empty()) return;
  platform::WriteText(json_ ? platform::StandardStream::Error : platform::StandardStream::Output,
                      held_);
  held_.clear();
}

void Output::Problem(const std::string& text) {
  WriteHeldLines();
  ClearProgress();
  platform::WriteText(platform::StandardStream::Error, "qor-cli: " + text + "\n");
}

bool Output::ProgressDue() {
  if (!terminal_ || verbosity_ == Verbosity::Quiet) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_progress_ < kProgressInterval) return false;
  last_progress_ = now;
  return true;
}

void Output::ShowProgress(const std::string& text) {
  WriteHeldLines();
  // Carriage return, the text, and the rest of the old line erased.
  platform::WriteText(platform::StandardStream::Error, "\r" + text + "\x1b[K");
  progress_shown_ = true;
}

void Output::ClearProgress() {
  if (!progress_shown_) return;
  platform::WriteText(platform::StandardStream::Error, "\r\x1b[K");
  progress_shown_ = false;
}

void Output::Summary(const std::string& human, const std::string& json) {
  WriteHeldLines();
  ClearProgress();
  if (json_) {
    platform::WriteText(platform::StandardStream::Output, json + "\n");
  } else if (verbosity_ != Verbosity::Quiet) {
    platform::WriteText(platform::StandardStream::Error, human + "\n");
  }
}

std::int64_t Output::Milliseconds() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start_)
      .count();
}

std::string Output::StartedText() const {
  return UtcText(started_);
}

std::string Output::NowText() {
  return UtcText(std::chrono::system_clock::now());
}

std::string UtcText(std::chrono::system_clock::time_point at) {
  using std::chrono::milliseconds;
  const std::int64_t ms = std::chrono::duration_cast<milliseconds>(at.time_since_epoch()).count();
  const std::int64_t day_ms = 86400000;
  const std::int64_t days = (ms >= 0 ? ms : ms - day_ms + 1) / day_ms;
  const std::int64_t in_day = ms - days * day_ms;
  const platform::CivilDate date = platform::CivilFromDays(days);
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02dT%02lld:%02lld:%02lld.%03lldZ",
                static_cast<long long>(date.year), date.month, date.day,
                static_cast<long long>(in_day / 3600000),
                static_cast<long long>(in_day / 60000 % 60),
                static_cast<long long>(in_day / 1000 % 60), static_cast<long long>(in_day % 1000));
  return buffer;
}

std::string Output::SecondsText() const {
  // Written by hand: the user's locale may want a decimal comma, JSON never.
  const std::int64_t ms = Milliseconds();
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lld.%03lld", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  return buffer;
}

std::string ByteText(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  if (bytes < 1024 * 1024) return Tenths(bytes, 1024) + " KiB";
  if (bytes < 1024ull * 1024 * 1024) return Tenths(bytes, 1024 * 1024) + " MiB";
  return Tenths(bytes, 1024ull * 1024 * 1024) + " GiB";
}

std::string RateText(std::uint64_t bytes, std::int64_t milliseconds) {
  if (milliseconds <= 0) milliseconds = 1;
  return ByteText(bytes * 1000 / static_cast<std::uint64_t>(milliseconds)) + "/s";
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  char buffer[8];
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const std::size_t length = Utf8SequenceLength(text, at);
    if (length == 0) {
      std::snprintf(buffer, sizeof buffer, "\\u%04X", 0xDC00 + byte);
      out += buffer;
      ++at;
      continue;
    }
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20 || byte == 0x7F) {
      std::snprintf(buffer, sizeof buffer, "\\u%04X", byte);
      out += buffer;
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out + "\"";
}

}  // namespace qor::cli
