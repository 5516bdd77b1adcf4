#include "platform/ini_text.h"

#include <cstddef>

namespace qor::platform {

namespace {

constexpr std::string_view kBlanks = " \t";
// Editors on some systems put a byte-order mark before the first line.
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string_view Content(std::string_view line) {
  if (line.substr(0, kUtf8Mark.size()) == kUtf8Mark) line.remove_prefix(kUtf8Mark.size());
  return Trim(line);
}

// The name of a section header line; nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  const std::string_view content = Content(line);
  if (content.empty() || content.front() != '[') return std::nullopt;
  const std::size_t close = content.rfind(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(content.substr(1, close - 1));
}

struct KeyLine {
  std::string_view name;
  std::string_view value;
};

// A "name=value" line; comment lines (";" or "#") and lines without "=" are
// not keys.
std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  const std::string_view content = Content(line);
  if (content.empty() || content.front() == ';' || content.front() == '#') return std::nullopt;
  const std::size_t equals = content.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return KeyLine{Trim(content.substr(0, equals)), Trim(content.substr(equals + 1))};
}

// Where the first section named `section` lies: its header line and the line
// after its last line. Nullopt when there is no such section.
struct SectionSpan {
  std::size_t header;
  std::size_t end;
};

std::optional<SectionSpan> FindSection(const std::vector<std::string>& lines,
                                       std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(lines[i]);
    if (!name || !SameName(*name, section)) continue;
    std::size_t end = i + 1;
    while (end < lines.size() && !SectionName(lines[end])) ++end;
    return SectionSpan{i, end};
  }
  return std::nullopt;
}

// The line of `key` inside the section; nullopt when missing.
std::optional<std::size_t> FindKeyLine(const std::vector<std::string>& lines, SectionSpan span,
                                       std::string_view key) {
  for (std::size_t i = span.header + 1; i < span.end; ++i) {
    const auto parsed = ParseKeyLine(lines[i]);
    if (parsed && SameName(parsed->name, key)) return i;
  }
  return std::nullopt;
}

bool IsBlankLine(std::string_view line) {
  return Trim(line).empty();
}

bool IsQuoted(std::string_view value) {
  return value.size() >= 2 && value.front() == '"' && value.back() == '"';
}

// `text` between `open` and `close`, built by appending: GCC 12 at -O3 reports a
// false -Wrestrict when a one-character literal is put before a std::string
// with operator+ (GCC bug 105329).
std::string Enclosed(char open, std::string_view text, char close) {
  std::string out;
  out.reserve(text.size() + 2);
  out += open;
  out += text;
  out += close;
  return out;
}

// The value as it stands in the file: in double quotes when reading would
// otherwise change it, that is when it has blanks at an end (a folder name
// may) or is itself in quotes.
std::string StoredForm(std::string_view value) {
  const bool blank_at_end =
      !value.empty() && (kBlanks.find(value.front()) != std::string_view::npos ||
                         kBlanks.find(value.back()) != std::string_view::npos);
  if (blank_at_end || IsQuoted(value)) return Enclosed('"', value, '"');
  return std::string(value);
}

}  // namespace

std::vector<std::string> SplitIniLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string JoinIniLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::optional<std::string> FindIniValue(const std::vector<std::string>& lines,
                                        std::string_view section, std::string_view key) {
  const auto span = FindSection(lines, section);
  if (!span) return std::nullopt;
  const auto line = FindKeyLine(lines, *span, key);
  if (!line) return std::nullopt;
  // As the Windows reader does, one pair of double quotes around a value
  // is taken away.
  std::string_view value = ParseKeyLine(lines[*line])->value;
  if (IsQuoted(value)) value = value.substr(1, value.size() - 2);
  return std::string(value);
}

bool IsStorableIniValue(std::string_view value) {
  // A line break would end the value early and turn the rest into lines of
  // their own, which could even set other keys.
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool SetIniValue(std::vector<std::string>& lines, std::string_view section, std::string_view key,
                 std::string_view value) {
  if (!IsStorableIniValue(value)) return false;
  const auto span = FindSection(lines, section);
  if (!span) {
    if (!lines.empty() && !IsBlankLine(lines.back())) lines.emplace_back();
    lines.push_back(Enclosed('[', section, ']'));
    lines.push_back(std::string(key) + "=" + StoredForm(value));
    return true;
  }
  if (const auto line = FindKeyLine(lines, *span, key)) {
    // The name keeps the spelling the file gave it.
    const std::string name(ParseKeyLine(lines[*line])->name);
    lines[*line] = name + "=" + StoredForm(value);
    return true;
  }
  std::size_t insert = span->end;
  while (insert > span->header + 1 && IsBlankLine(lines[insert - 1])) --insert;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert),
               std::string(key) + "=" + StoredForm(value));
  return true;
}

}  // namespace qor::platform
