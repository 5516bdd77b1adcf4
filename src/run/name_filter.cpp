#include "run/name_filter.h"

#include <algorithm>

#include "core/utf8.h"

namespace qor {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// The character that starts at `at`, and `at` moved past it. A byte that
// starts no valid UTF-8 sequence stands for itself as U+DC80 to U+DCFF,
// values that no valid sequence gives.
char32_t NextChar(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = Utf8SequenceLength(text, at);
  if (length <= 1) {
    ++at;
    return length == 1 ? lead : 0xDC00 + lead;
  }
  char32_t c = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    c = (c << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
  }
  at += length;
  return c;
}

char32_t Lower(char32_t c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}
char32_t Upper(char32_t c) {
  return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
}

bool IsSeparator(char c, NameRules rules) {
  return c == '/' || (c == '\\' && rules == NameRules::Windows);
}

// Where the part of `path` after the one that starts at `at` starts; kNone
// after the last.
std::size_t NextPart(std::string_view path, std::size_t at, NameRules rules) {
  while (at < path.size() && !IsSeparator(path[at], rules)) ++at;
  return at < path.size() ? at + 1 : kNone;
}

// Matches pattern items against a subject read from `at` to `end`, where a
// star item takes any run of subject items and every other item takes one.
// On a mismatch only the last star takes one more item and the items after
// it try again: an earlier star never needs to take more, as the last one
// can take it instead. So the work stays within items times subject length.
template <typename IsStar, typename Next, typename ItemMatches>
bool MatchWithStars(std::size_t items, std::size_t at, std::size_t end, IsStar is_star, Next next,
                    ItemMatches matches) {
  std::size_t item = 0, retry_item = kNone, retry_at = 0;
  while (at != end) {
    if (item < items && is_star(item)) {
      retry_item = ++item;
      retry_at = at;
    } else if (item < items && matches(item, at)) {
      ++item;
      at = next(at);
    } else if (retry_item == kNone) {
      return false;
    } else {
      item = retry_item;
      at = retry_at = next(retry_at);
    }
  }
  while (item < items && is_star(item)) ++item;
  return item == items;
}

// Reads a set from just after its "[" to just after its "]".
bool ReadSet(std::string_view text, std::size_t& at, bool escapes,
             std::vector<std::pair<char32_t, char32_t>>& ranges, bool& negated, std::string& why) {
  if (at < text.size() && (text[at] == '!' || text[at] == '^')) {
    negated = true;
    ++at;
  }
  const auto member = [&] {
    if (escapes && text[at] == '\\' && at + 1 < text.size()) ++at;
    return NextChar(text, at);
  };
  // A "]" right after the "[" (or its "!") is a member.
  for (bool first = true;; first = false) {
    if (at >= text.size()) {
      why = "has a [ without its ]";
      return false;
    }
    if (text[at] == ']' && !first) {
      ++at;
      return true;
    }
    if (text.substr(at, 2) == "[:") {
      why = "names a character class such as [:alpha:], which patterns do not know";
      return false;
    }
    const char32_t low = member();
    char32_t high = low;
    if (at + 1 < text.size() && text[at] == '-' && text[at + 1] != ']') {
      ++at;
      high = member();
    }
    ranges.push_back({low, high});
  }
}

}  // namespace

std::optional<GlobPattern> GlobPattern::Read(std::string_view text, NameRules rules,
                                             std::string& why) {
  const bool escapes = rules == NameRules::Posix;
  const bool fold = rules == NameRules::Windows;
  // "cache/" names a folder as "cache" does.
  while (!text.empty() && IsSeparator(text.back(), rules)) text.remove_suffix(1);
  GlobPattern pattern(rules);
  Part part;
  std::size_t part_start = 0;
  const auto end_part = [&](std::size_t end) {
    part.any_folders = text.substr(part_start, end - part_start) == "**";
    // Empty parts ("a//b", a leading "/") are left out.
    if (end > part_start) pattern.parts_.push_back(std::move(part));
    part = Part();
  };
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (IsSeparator(c, rules)) {
      end_part(at);
      pattern.whole_path_ = true;
      part_start = ++at;
    } else if (c == '*') {
      ++at;
      if (part.tokens.empty() || part.tokens.back().kind != Token::Kind::AnyRun) {
        part.tokens.push_back({Token::Kind::AnyRun, 0});
      }
    } else if (c == '?') {
      ++at;
      part.tokens.push_back({Token::Kind::AnyChar, 0});
    } else if (c == '[') {
      ++at;
      Set set;
      if (!ReadSet(text, at, escapes, set.ranges, set.negated, why)) return std::nullopt;
      part.tokens.push_back({Token::Kind::Set, static_cast<char32_t>(pattern.sets_.size())});
      pattern.sets_.push_back(std::move(set));
    } else {
      if (c == '\\' && escapes && ++at == text.size()) {
        why = "ends with a \\ that makes nothing plain";
        return std::nullopt;
      }
      const char32_t plain = NextChar(text, at);
      part.tokens.push_back({Token::Kind::Char, fold ? Lower(plain) : plain});
    }
  }
  end_part(text.size());
  if (pattern.parts_.empty()) {
    why = "is empty";
    return std::nullopt;
  }
  return pattern;
}

bool GlobPattern::Matches(std::string_view relative) const {
  if (!whole_path_) {
    std::size_t name = relative.size();
    while (name > 0 && !IsSeparator(relative[name - 1], rules_)) --name;
    return PartMatches(parts_.front(), relative.substr(name));
  }
  return MatchWithStars(
      parts_.size(), 0, kNone, [this](std::size_t i) { return parts_[i].any_folders; },
      [&](std::size_t at) { return NextPart(relative, at, rules_); },
      [&](std::size_t i, std::size_t at) {
        const std::size_t next = NextPart(relative, at, rules_);
        const std::size_t end = next == kNone ? relative.size() : next - 1;
        return PartMatches(parts_[i], relative.substr(at, end - at));
      });
}

bool GlobPattern::PartMatches(const Part& part, std::string_view name) const {
  const std::vector<Token>& tokens = part.tokens;
  return MatchWithStars(
      tokens.size(), 0, name.size(),
      [&](std::size_t i) { return tokens[i].kind == Token::Kind::AnyRun; },
      [&](std::size_t at) {
        NextChar(name, at);
        return at;
      },
      [&](std::size_t i, std::size_t at) { return TokenMatches(tokens[i], NextChar(name, at)); });
}

bool GlobPattern::TokenMatches(const Token& token, char32_t c) const {
  const bool fold = rules_ == NameRules::Windows;
  switch (token.kind) {
    case Token::Kind::Char:
      return token.value == (fold ? Lower(c) : c);
    case Token::Kind::AnyChar:
      return true;
    case Token::Kind::Set: {
      const Set& set = sets_[token.value];
      const auto in = [&set](char32_t x) {
        return std::any_of(set.ranges.begin(), set.ranges.end(), [x](const auto& range) {
          return range.first <= x && x <= range.second;
        });
      };
      return (in(c) || (fold && (in(Lower(c)) || in(Upper(c))))) != set.negated;
    }
    case Token::Kind::AnyRun:
      break;
  }
  return false;
}

std::string NameFilter::Add(Rule rule, std::string_view text) {
  std::string why;
  std::optional<GlobPattern> pattern = GlobPattern::Read(text, rules_, why);
  if (!pattern) return why;
  std::vector<GlobPattern>& patterns = rule == Rule::Include   ? include_
                                       : rule == Rule::Exclude ? exclude_
                                                               : exclude_folders_;
  patterns.push_back(std::move(*pattern));
  return {};
}

bool NameFilter::TakesFile(std::string_view relative) const {
  const auto matched = [relative](const GlobPattern& pattern) { return pattern.Matches(relative); };
  return (include_.empty() || std::any_of(include_.begin(), include_.end(), matched)) &&
         std::none_of(exclude_.begin(), exclude_.end(), matched);
}

bool NameFilter::EntersFolder(std::string_view relative) const {
  return std::none_of(exclude_folders_.begin(), exclude_folders_.end(),
                      [relative](const GlobPattern& pattern) { return pattern.Matches(relative); });
}

}  // namespace qor
