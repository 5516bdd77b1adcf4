#include "platform/posix/civil_date.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>

namespace qor::platform {
namespace {

TEST(CivilDateTest, AgreesWithTheCLibraryAcrossCenturiesAndLeapDays) {
  std::mt19937_64 random(42);
  std::uniform_int_distribution<std::int64_t> seconds(-5'000'000'000LL, 10'000'000'000LL);
  std::vector<std::int64_t> samples = {0,         -1,         86399,      86400,
                                       951782400, 951868799,  4107542400, -2208988800,
                                       68169600,  1709164800, 1709251199};  // 29 Feb 2024
  for (int i = 0; i < 20000; ++i) samples.push_back(seconds(random));
  for (const std::int64_t s : samples) {
    const std::time_t t = static_cast<std::time_t>(s);
    std::tm tm{};
    ASSERT_NE(::gmtime_r(&t, &tm), nullptr);
    const CivilDate date = CivilDateFromUnixSeconds(s);
    ASSERT_EQ(date.year, tm.tm_year + 1900) << s;
    ASSERT_EQ(date.month, tm.tm_mon + 1) << s;
    ASSERT_EQ(date.day, tm.tm_mday) << s;
  }
}

}  // namespace
}  // namespace qor::platform
