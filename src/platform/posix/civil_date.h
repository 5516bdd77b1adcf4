#pragma once

#include <cstdint>

#include "platform/civil_days.h"

namespace qor::platform {

// The UTC calendar date of a count of seconds since 1970-01-01, without
// gmtime_r (which takes a lock per call).
constexpr CivilDate CivilDateFromUnixSeconds(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  if (seconds % 86400 < 0) --days;
  return CivilFromDays(days);
}

}  // namespace qor::platform
