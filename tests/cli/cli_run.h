#pragma once

// Runs the real qor-cli binary to its end, as a script or a scheduler would;
// posix/ and win32/ start it each in their system's way.

#include <string>
#include <vector>

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

}  // namespace qor::testing
