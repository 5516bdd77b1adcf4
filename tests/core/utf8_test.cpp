#include "core/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace qor {
namespace {

TEST(Utf8Test, TakesEveryValidSequenceAndNothingElse) {
  const struct {
    std::string text;
    std::size_t length;
  } cases[] = {
      {"a", 1},
      {std::string(1, '\0'), 1},
      {"\x7f", 1},
      {"\xc2\x80", 2},          // U+0080, the smallest two-byte value
      {"\xdf\xbf", 2},          // U+07FF
      {"\xe0\xa0\x80", 3},      // U+0800
      {"\xed\x9f\xbf", 3},      // U+D7FF, just below the surrogates
      {"\xee\x80\x80", 3},      // U+E000, just above them
      {"\xef\xbf\xbf", 3},      // U+FFFF
      {"\xf0\x90\x80\x80", 4},  // U+10000
      {"\xf4\x8f\xbf\xbf", 4},  // U+10FFFF, the largest
      {"\xc3\xa9tail", 2},      // only the sequence counts
      {"\xc0\x80", 0},          // overlong NUL
      {"\xc1\xbf", 0},          // overlong U+007F
      {"\xe0\x9f\xbf", 0},      // overlong U+07FF
      {"\xf0\x8f\xbf\xbf", 0},  // overlong U+FFFF
      {"\xed\xa0\x80", 0},      // U+D800, a surrogate
      {"\xed\xbf\xbf", 0},      // U+DFFF
      {"\xf4\x90\x80\x80", 0},  // U+110000
      {"\xf5\x80\x80\x80", 0},  // a lead past U+10FFFF
      {"\xff", 0},
      {"\x80", 0},  // a continuation byte on its own
      {"\xc3", 0},  // cut off by the end
      {"\xe2\x82", 0},
      {"\xf0\x9f\x98", 0},
      {"\xc3"
       "a",
       0},  // second byte not a continuation
      {"\xe2\x82"
       "a",
       0},  // third byte not a continuation
      {"\xf0\x9f\x98"
       "a",
       0},  // fourth byte not a continuation
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8SequenceLength(c.text, 0), c.length) << c.text;
  // A sequence is judged where it starts, against the end of the whole text.
  EXPECT_EQ(Utf8SequenceLength("ab\xe2\x82\xac", 2), 3u);
  EXPECT_EQ(Utf8SequenceLength("ab\xe2\x82", 2), 0u);
}

}  // namespace
}  // namespace qor
