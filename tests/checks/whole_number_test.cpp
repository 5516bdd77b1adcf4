#include "checks/whole_number.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qor {
namespace {

struct Conversion {
  std::string text;
  std::optional<std::int32_t> expected;
};

void ExpectConversions(const std::vector<Conversion>& cases, const platform::NumberFormat& format) {
  for (const Conversion& c : cases) {
    EXPECT_EQ(WholeTextToInt32(c.text, format), c.expected) << "text [" << c.text << "]";
  }
}

constexpr std::int32_t kMax = 2147483647;
constexpr std::int32_t kMin = -2147483647 - 1;

TEST(WholeTextToInt32, ReadsWholeNumbersUnderPlainFormat) {
  const platform::NumberFormat plain{".", ""};
  ExpectConversions(
      {
          {"42", 42},
          {"  42\t", 42},
          {"007", 7},
          {"+42", 42},
          {"-42", -42},
          {"-0", 0},
          {"2.5", 2},
          {"3.5", 4},
          {"-2.5", -2},
          {"-3.5", -4},
          {"2.50000", 2},
          {"2.500001", 3},
          {"2.49999", 2},
          {"0.5", 0},
          {".5", 0},
          {"1.5", 2},
          {"7.", 7},
          {"2147483647", kMax},
          {"2147483647.4", kMax},
          {"-2147483648", kMin},
          {"-2147483648.5", kMin},
          {"0000000000002147483647", kMax},
      },
      plain);
}

TEST(WholeTextToInt32, RefusesWhatIsNotOneWholeNumberInRange) {
  const platform::NumberFormat plain{".", ""};
  ExpectConversions(
      {
          {"", std::nullopt},
          {"   ", std::nullopt},
          {"12abc", std::nullopt},
          {"abc", std::nullopt},
          {"+", std::nullopt},
          {"-", std::nullopt},
          {".", std::nullopt},
          {"1,000", std::nullopt},  // no grouping in this format
          {"1 2", std::nullopt},
          {"- 1", std::nullopt},
          {"--1", std::nullopt},
          {"+-1", std::nullopt},
          {"1-", std::nullopt},
          {"1e3", std::nullopt},
          {"0x10", std::nullopt},
          {"1.2.3", std::nullopt},
          {"1.a", std::nullopt},
          {"2147483648", std::nullopt},
          {"2147483647.5", std::nullopt},
          {"-2147483649", std::nullopt},
          {"-2147483648.6", std::nullopt},
          {"99999999999", std::nullopt},
          {"18446744073709551617", std::nullopt},
          {"99999999999999999999999999999999", std::nullopt},
      },
      plain);
}

TEST(WholeTextToInt32, FollowsGroupingAndDecimalCommaOfTheFormat) {
  const platform::NumberFormat german{",", "."};
  ExpectConversions(
      {
          {"1.000", 1000},
          {"1.234.567", 1234567},
          {"-1.000", -1000},
          {"1.000,5", 1000},
          {"1.001,5", 1002},
          {"2,5", 2},
          {"3,5", 4},
          {" 2.020 ", 2020},
          {".1000", std::nullopt},
          {"1000.", std::nullopt},
          {"1..000", std::nullopt},
          {"-.5", std::nullopt},
          {"1,000.5", std::nullopt},
          {"1,5,6", std::nullopt},
          {"2.147.483.648", std::nullopt},
      },
      german);
}

TEST(WholeTextToInt32, TakesASeparatorOfSeveralBytes) {
  const platform::NumberFormat french{",", "\u202f"};  // narrow no-break space
  ExpectConversions(
      {
          {"1\u202f000", 1000},
          {"1\u202f000,5", 1000},
          {"1\u202f", std::nullopt},
          {"1\xe2\x80", std::nullopt},  // a separator cut short
      },
      french);
}

}  // namespace
}  // namespace qor
