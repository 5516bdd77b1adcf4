#include "cli/log_entries.h"

#include "platform/files.h"
#include "run/find_file.h"

namespace qor::cli {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A place below the source as the walk writes it: names joined by the
// separator, none of them empty or hidden, so that undo can never be led
// out of SOURCE by a log that was edited.
bool IsRelativePlace(const std::string& relative) {
  std::size_t start = 0;
  while (true) {
    const std::size_t end = relative.find(platform::kSeparator, start);
    const std::string_view part =
        std::string_view(relative).substr(start, end == std::string::npos ? end : end - start);
    if (part.empty() || part.front() == '.') return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

LogEntry ReadLine(std::string_view line) {
  LogEntry entry;
  std::size_t at = line.find(kMovedTo);
  if (at == std::string_view::npos) {
    // Not recorded as moved, whatever else it says.
    entry.kind = LogEntry::NotMoved;
    return entry;
  }
  // Each place where the separator stands is a way to read the line; the
  // target part always ends with a folder separator.
  for (; at != std::string_view::npos; at = line.find(kMovedTo, at + 1)) {
    const auto relative = DecodeLogText(line.substr(0, at));
    const auto target = DecodeLogText(line.substr(at + kMovedTo.size()));
    if (!relative || !target || target->empty() || target->back() != platform::kSeparator ||
        !IsRelativePlace(*relative)) {
      continue;
    }
    entry.readings.push_back({*relative, *target});
  }
  if (!entry.readings.empty()) {
    entry.kind = LogEntry::Moved;
  } else {
    entry.kind =
        line.find(kNotMoved) != std::string_view::npos ? LogEntry::NotMoved : LogEntry::Unreadable;
  }
  return entry;
}

}  // namespace

std::optional<std::string> DecodeLogText(std::string_view text) {
  // Where the backslash is the folder separator the log escapes nothing: no
  // name there can hold a control byte or a backslash.
  if (platform::kSeparator == '\\') {
    for (const char c : text) {
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
    }
    return std::string(text);
  }
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) return std::nullopt;
    if (byte != '\\') {
      out.push_back(text[i]);
      continue;
    }
    const int high = i + 3 < text.size() && text[i + 1] == 'x' ? HexValue(text[i + 2]) : -1;
    const int low = high >= 0 ? HexValue(text[i + 3]) : -1;
    const auto value = static_cast<unsigned char>(high * 16 + low);
    // Only what the log escapes is ever written as an escape.
    if (low < 0 || !(value < 0x20 || value == 0x7F || value == '\\')) return std::nullopt;
    out.push_back(static_cast<char>(value));
    i += 3;
  }
  return out;
}

std::vector<LogEntry> ReadLogEntries(std::string_view log) {
  std::vector<LogEntry> entries;
  while (!log.empty()) {
    const std::size_t end = log.find("\r\n");
    if (end == std::string_view::npos) {
      // A line without its end: the run ended before it dealt with the file.
      entries.push_back({LogEntry::NotMoved, {}});
      break;
    }
    entries.push_back(ReadLine(log.substr(0, end)));
    log.remove_prefix(end + 2);
  }
  return entries;
}

}  // namespace qor::cli
