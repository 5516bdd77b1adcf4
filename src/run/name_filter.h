#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qor {

// How names compare. On Windows letter case does not count (ASCII letters
// only: folding beyond them would need the file system's own case table)
// and "\" separates folders like "/"; elsewhere case counts and "\" makes
// the next character plain.
enum class NameRules { Posix, Windows };
#ifdef _WIN32
inline constexpr NameRules kSystemNameRules = NameRules::Windows;
#else
inline constexpr NameRules kSystemNameRules = NameRules::Posix;
#endif

// A shell pattern: "*" any run of characters within one name, "?" one
// character, "[...]" one of a set ("a-z" a range, "!" or "^" first to
// negate), and "**" as a whole part of a path any number of folders.
// Without a separator it is matched against a name, with one against the
// whole path below the source; a trailing separator is ignored.
class GlobPattern {
 public:
  // Nullopt, with `why` set, when `text` cannot be read (an unclosed "[").
  static std::optional<GlobPattern> Read(std::string_view text, NameRules rules, std::string& why);

  // `relative` is an entry's path below the source, its name last.
  bool Matches(std::string_view relative) const;

 private:
  struct Token {
    enum class Kind : std::uint8_t { Char, AnyChar, AnyRun, Set } kind;
    char32_t value;  // the character, or the index of the set
  };
  struct Set {
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;
  };
  // What lies between two separators; "**" alone stands for any number of
  // folders.
  struct Part {
    std::vector<Token> tokens;
    bool any_folders = false;
  };

  explicit GlobPattern(NameRules rules) : rules_(rules) {}
  bool PartMatches(const Part& part, std::string_view name) const;
  bool TokenMatches(const Token& token, char32_t c) const;

  NameRules rules_;
  bool whole_path_ = false;
  std::vector<Part> parts_;
  std::vector<Set> sets_;
};

// Which files a walk takes and which folders it enters: a file is taken when
// it matches an include pattern, or none is given, and no exclude pattern;
// a folder is entered when it matches no excluded-folder pattern.
class NameFilter {
 public:
  enum class Rule { Include, Exclude, ExcludeFolder };

  explicit NameFilter(NameRules rules = kSystemNameRules) : rules_(rules) {}

  // Adds a pattern; returns why it cannot be read, empty when it can.
  std::string Add(Rule rule, std::string_view pattern);

  bool empty() const { return include_.empty() && exclude_.empty() && exclude_folders_.empty(); }
  // `relative` is the entry's path below the source with the system's
  // separator, its name last.
  bool TakesFile(std::string_view relative) const;
  bool EntersFolder(std::string_view relative) const;

 private:
  NameRules rules_;
  std::vector<GlobPattern> include_;
  std::vector<GlobPattern> exclude_;
  std::vector<GlobPattern> exclude_folders_;
};

}  // namespace qor
