// The times of the JSON summary, whatever the clock says.

#include <gtest/gtest.h>

#include <chrono>

#include "cli/output.h"

namespace qor::cli {
namespace {

TEST(UtcTextTest, WritesIso8601InUtcToTheMillisecond) {
  const struct {
    long long milliseconds;  // since 1970-01-01T00:00:00Z
    const char* text;
  } cases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {999, "1970-01-01T00:00:00.999Z"},
      {-1, "1969-12-31T23:59:59.999Z"},
      {951868799999, "2000-02-29T23:59:59.999Z"},
      {1796834405123, "2026-12-09T16:40:05.123Z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.milliseconds);
    const std::chrono::system_clock::time_point at(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::milliseconds(c.milliseconds)));
    EXPECT_EQ(UtcText(at), c.text);
  }
}

}  // namespace
}  // namespace qor::cli
