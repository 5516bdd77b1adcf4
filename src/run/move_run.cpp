#include "run/move_run.h"

#include <cstdio>

namespace qor {

std::string MakeDateStamp(int year, int month, int day) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", year, month, day);
  return buffer;
}

}  // namespace qor
