#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace qor::testing {

// The build folder, on the file system where the tests run.
inline std::string BuildParent() {
  const char* dir = std::getenv("QOR_TEST_BINARY_DIR");
  return dir != nullptr && *dir != '\0' ? dir : ".";
}

// Whether two existing paths lie on one file system.
inline bool SameFileSystem(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

}  // namespace qor::testing
