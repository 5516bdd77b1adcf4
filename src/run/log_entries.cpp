#include "run/log_entries.h"

#include <algorithm>
#include <unordered_map>

#include "platform/files.h"
#include "run/log_escapes.h"
#include "run/log_format.h"

namespace qor {

namespace {

// Tells, for ever longer beginnings of one line, whether each could be a
// place below the source as the walk writes it: names joined by the
// separator, none of them empty or hidden, so that undo can never be led out
// of SOURCE by a log that was edited. One pass serves the whole line however
// many beginnings are asked about. The raw text is judged: no escape the log
// writes stands for a separator or a dot.
class PlaceScan {
 public:
  explicit PlaceScan(std::string_view line) : line_(line) {}

  // Whether line[0, end) is such a place; `end` never shrinks between calls.
  bool IsPlace(std::size_t end) {
    for (; at_ < end; ++at_) {
      const char c = line_[at_];
      if (c == platform::kSeparator) {
        bad_ = bad_ || !IsName(part_, at_);
        part_ = at_ + 1;
      } else if (platform::kSeparator == '\\' && (c == '/' || c == ':')) {
        bad_ = true;  // another separator, or a drive or stream, where names hold neither
      }
    }
    return !bad_ && IsName(part_, end);
  }

 private:
  bool IsName(std::size_t from, std::size_t to) const { return to > from && line_[from] != '.'; }

  std::string_view line_;
  std::size_t at_ = 0;
  std::size_t part_ = 0;  // where the name being scanned begins
  bool bad_ = false;      // a name before it is not one the walk writes
};

// A line judged on its own: a Moved one with every place where kMovedTo can
// part the file's place from the target folder.
struct Line {
  LogEntry::Kind kind = LogEntry::Unreadable;
  std::string_view text;
  std::vector<std::size_t> splits;
};

Line JudgeLine(std::string_view text) {
  Line line{LogEntry::Unreadable, text, {}};
  if (text.size() > kLongestLogLine) {
    line.kind = LogEntry::Damaged;
    return line;
  }
  const bool not_moved = text.find(kNotMoved) != std::string_view::npos;
  std::size_t at = text.find(kMovedTo);
  if (at == std::string_view::npos) {
    line.kind = not_moved ? LogEntry::NotMoved : LogEntry::Unreadable;
    return line;
  }
  // Decoded once for the whole line: no split falls inside an escape, so
  // both parts decode exactly when the whole does. The target part always
  // ends with a folder separator.
  if (text.back() == platform::kSeparator && DecodeLogText(text)) {
    PlaceScan scan(text);
    for (; at != std::string_view::npos; at = text.find(kMovedTo, at + 1)) {
      if (scan.IsPlace(at)) line.splits.push_back(at);
    }
  }
  line.kind = !line.splits.empty() ? LogEntry::Moved
              : not_moved          ? LogEntry::NotMoved
                                   : LogEntry::Damaged;
  return line;
}

std::string_view TargetAfter(const Line& line, std::size_t split) {
  return line.text.substr(split + kMovedTo.size());
}

// The raw target folder of the run: the one that most moved lines can be
// read with, so that one edited entry cannot take the others with it. A line
// reads more than one way only when a name or the target holds the separator
// text; a tie goes to the shorter target, as names come from anywhere while
// the target was typed, then to the earlier. Lines with more ways than any
// real entry has do not vote; where no line votes, the first moved line is
// read the shortest way.
std::string_view ChooseTarget(const std::vector<Line>& lines) {
  constexpr std::size_t kMostWays = 4;
  std::unordered_map<std::string_view, std::size_t> votes;
  std::string_view fallback;
  for (const Line& line : lines) {
    if (line.kind != LogEntry::Moved) continue;
    if (fallback.empty()) fallback = TargetAfter(line, line.splits.back());
    if (line.splits.size() > kMostWays) continue;
    for (const std::size_t split : line.splits) ++votes[TargetAfter(line, split)];
  }
  std::string_view best = fallback;
  std::size_t most = 0;
  for (const Line& line : lines) {
    if (line.kind != LogEntry::Moved || line.splits.size() > kMostWays) continue;
    for (const std::size_t split : line.splits) {
      const std::string_view target = TargetAfter(line, split);
      const std::size_t n = votes[target];
      if (n > most || (n == most && target.size() < best.size())) {
        most = n;
        best = target;
      }
    }
  }
  return best;
}

}  // namespace

LogEntries ReadLogEntries(std::string_view log) {
  std::vector<Line> lines;
  LogEntries result;
  while (!log.empty()) {
    const std::size_t end = log.find("\r\n");
    if (end == std::string_view::npos) {
      // A line without its end: the run ended before it dealt with the file.
      lines.push_back({LogEntry::NotMoved, log, {}});
      break;
    }
    lines.push_back(JudgeLine(log.substr(0, end)));
    const LogEntry::Kind kind = lines.back().kind;
    result.any_entry = result.any_entry || kind == LogEntry::Moved || kind == LogEntry::NotMoved;
    log.remove_prefix(end + 2);
  }

  const std::string_view target = ChooseTarget(lines);
  if (!target.empty()) result.target = DecodeLogText(target).value_or(std::string());
  result.entries.reserve(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    LogEntry& entry = result.entries.emplace_back();
    entry.kind = line.kind;
    entry.line = i + 1;
    entry.text = line.text;
    if (line.kind != LogEntry::Moved) continue;
    // Read the one way that ends with the run's target folder, if any.
    const std::size_t tail = kMovedTo.size() + target.size();
    const std::size_t split = line.text.size() - std::min(tail, line.text.size());
    if (line.text.size() > tail && line.text.ends_with(target) &&
        std::binary_search(line.splits.begin(), line.splits.end(), split)) {
      entry.relative = DecodeLogText(line.text.substr(0, split)).value_or(std::string());
    } else {
      entry.kind = LogEntry::Damaged;
    }
  }
  return result;
}

}  // namespace qor
