#include "run/name_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qor {
namespace {

constexpr NameRules kPosix = NameRules::Posix;
constexpr NameRules kWindows = NameRules::Windows;

struct MatchCase {
  NameRules rules;
  const char* pattern;
  std::string relative;
  bool matches;
};

TEST(GlobPatternTest, MatchesNamesAndPathsAsTheShellDoesWithDoubleStarForFolders) {
  const std::string many_a(200, 'a');
  const std::vector<MatchCase> cases = {
      // Without a separator: the name, wherever it lies.
      {kPosix, "*.tmp", "a/b/x.tmp", true},
      {kPosix, "*.tmp", "x.tmp/y", false},
      {kPosix, "*.tmp", "x.tmpl", false},
      {kPosix, "?.txt", "ab.txt", false},
      {kPosix, "?.txt", "\xC3\xA9.txt", true},  // one character of two bytes
      {kPosix, "?", "\xFF", true},              // a byte that is no UTF-8 is one character
      {kPosix, "[a-c]x", "dx", false},
      {kPosix, "[!a-c]x", "dx", true},
      {kPosix, "[]x]", "]", true},
      {kPosix, "[a-]", "-", true},
      {kPosix, "[\xC3\xA0-\xC3\xBF]", "\xC3\xA9", true},
      {kPosix, "a\\*", "a*", true},
      {kPosix, "Thumbs.db", "thumbs.db", false},
      // With a separator: the whole path below the source; "*" stays in a name.
      {kPosix, "a/*.txt", "b/a/x.txt", false},
      {kPosix, "a/*.txt", "a/b/x.txt", false},
      {kPosix, "*/x", "a/b/x", false},
      {kPosix, "/x", "x", true},
      {kPosix, "/x", "a/x", false},
      {kPosix, "cache/", "a/cache", true},  // a trailing "/" changes nothing
      {kPosix, "**/x", "x", true},
      {kPosix, "a/**/x", "a/b/c/x", true},
      {kPosix, "a/**/x", "b/a/x", false},
      {kPosix, "a/**", "a/b/c", true},
      {kPosix, "**/b/**/y", "a/b/c/b/y", true},
      {kPosix, "a/**b/x", "a/cb/x", true},  // "**" inside a name is "*"
      {kPosix, "a/**b/x", "a/c/b/x", false},
      // A name may hold "\" here; it is no separator.
      {kPosix, "a\\\\b", "a\\b", true},
      {kPosix, "b", "a\\b", false},
      // Windows: "\" separates, ASCII letter case does not count.
      {kWindows, "THUMBS.DB", "sub\\thumbs.db", true},
      {kWindows, "a\\*.TXT", "A\\x.txt", true},
      {kWindows, "[!a-c]x", "Bx", false},
      {kWindows, "\xC3\xA9", "\xC3\x89", false},  // only ASCII folds
      // Many stars that all fail: no backtracking into every split.
      {kPosix, "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", many_a, false},
      {kPosix, "**/**/**/**/**/**/**/**/**/**/**/**/b", "a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/c",
       false},
  };
  for (const MatchCase& test : cases) {
    SCOPED_TRACE(std::string(test.pattern) + " against " + test.relative);
    std::string why;
    const std::optional<GlobPattern> pattern = GlobPattern::Read(test.pattern, test.rules, why);
    ASSERT_TRUE(pattern) << why;
    EXPECT_EQ(pattern->Matches(test.relative), test.matches);
  }
}

TEST(GlobPatternTest, RefusesWhatItCannotReadAndSaysWhy) {
  for (const char* text : {"a[", "[!", "[]", "[a-", "x\\", "", "/", "[[:alpha:]]"}) {
    SCOPED_TRACE(text);
    std::string why;
    EXPECT_FALSE(GlobPattern::Read(text, kPosix, why));
    EXPECT_FALSE(why.empty());
  }
  std::string why;
  EXPECT_TRUE(GlobPattern::Read("x\\", kWindows, why)) << "a trailing separator on Windows";
}

}  // namespace
}  // namespace qor
