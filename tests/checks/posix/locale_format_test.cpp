#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <optional>
#include <string>

#include "checks/whole_number.h"
#include "platform/locale.h"

namespace qor {
namespace {

// A locale whose numbers group digits, if this machine has one. LOCPATH may
// point at a folder made with `localedef -i de_DE -f UTF-8 DIR/de_DE.UTF-8`.
TEST(WholeTextToInt32, ReadsTheCurrentLocalesFormat) {
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE"};
  const char* adopted = nullptr;
  for (const char* name : names) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      adopted = name;
      break;
    }
  }
  if (adopted == nullptr) GTEST_SKIP() << "no de_DE locale installed";
  const platform::NumberFormat format = platform::CurrentNumberFormat();
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(format.decimal_point, ",");
  EXPECT_EQ(format.thousands_separator, ".");
  EXPECT_EQ(WholeTextToInt32("1.234,5", format), 1234);
  EXPECT_EQ(WholeTextToInt32("12,51", format), 13);
  EXPECT_EQ(WholeTextToInt32("1,234.5", format), std::nullopt);
}

}  // namespace
}  // namespace qor
