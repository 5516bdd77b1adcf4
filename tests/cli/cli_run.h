#pragma once

// Runs the real qor-cli binary to its end, as a script or a scheduler would;
// posix/ and win32/ start it each in their system's way.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "support/temp_tree.h"

namespace qor::testing {

struct CliResult {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs qor-cli with `arguments` (UTF-8) in the folder `cwd` and collects
// what it printed, byte for byte.
CliResult RunCli(const std::vector<std::string>& arguments, const std::string& cwd);

// The lines of a text that ends each with "\n".
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// Local today moved by `days`, at noon UTC of that calendar date.
inline std::int64_t DaysFromToday(int days) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  ::localtime_s(&local, &now);
#else
  ::localtime_r(&now, &local);
#endif
  return UtcSeconds(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         std::int64_t{days} * 86400;
}

}  // namespace qor::testing
