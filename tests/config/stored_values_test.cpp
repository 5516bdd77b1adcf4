#include "config/stored_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qor {
namespace {

TEST(StoredNumberTextTest, IntegralAsPlainDigitsFractionWithTheLocalesPoint) {
  const struct {
    double value;
    const char* point;
    const char* text;
  } cases[] = {
      {7, ".", "7"},
      {-12, ",", "-12"},
      {2.5, ",", "2,5"},
      {-7.25, ",", "-7,25"},
      {0.1, ".", "0.1"},
      {1e22, ".", "10000000000000000000000"},
      {1180591620717411303424.0, ".", "1180591620717411303424"},
      {2147483648.0, ".", "2147483648"},
      {-0.0, ".", "0"},
      {std::numeric_limits<double>::infinity(), ".", "0"},
      {-std::numeric_limits<double>::infinity(), ".", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StoredNumberText(c.value, c.point), c.text);
  }
  // The smallest number there is still comes out whole, without an exponent.
  const std::string tiny = StoredNumberText(std::numeric_limits<double>::denorm_min(), ".");
  EXPECT_EQ(tiny.substr(0, 3), "0.0");
  EXPECT_EQ(tiny.back(), '5');
}

}  // namespace
}  // namespace qor
