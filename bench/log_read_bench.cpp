// Times undo's reading of a run log with one line of about 1 MB in the
// shapes that once took quadratic time, and one just over the longest line
// read, each beside an ordinary entry.
//
//   qor_log_bench [--runs N]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "run/log_entries.h"
#include "run/log_format.h"

int main(int argc, char** argv) {
  int runs = 5;
  if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::atoi(argv[2]);
  const std::string moved_to(qor::kMovedTo);
  const std::string target = "/srv/archive/20210615/";
  const auto repeated = [](const std::string& piece, std::size_t size) {
    std::string text;
    while (text.size() < size) text += piece;
    return text;
  };
  const std::vector<std::pair<const char*, std::string>> shapes = {
      {"separators, then the target", repeated("x" + moved_to, 1000000) + target},
      {"separators only", repeated(moved_to, 1000000)},
      {"folders, then the target", repeated("d/", 1000000) + "f" + moved_to + target},
      {"escapes, then the target", repeated("\\x0A", 1000000) + moved_to + target},
      {"over the longest line", std::string(qor::kLongestLogLine + 1, 'y') + moved_to + target},
  };
  for (const auto& [what, line] : shapes) {
    const std::string log = "sub/a.txt" + moved_to + target + "\r\n" + line + "\r\n";
    std::printf("%-30s %8zu bytes:", what, line.size());
    for (int run = 0; run < runs; ++run) {
      const auto start = std::chrono::steady_clock::now();
      const qor::LogEntries entries = qor::ReadLogEntries(log);
      const std::chrono::duration<double, std::milli> took =
          std::chrono::steady_clock::now() - start;
      if (entries.entries.size() != 2) return 1;
      std::printf(" %7.2f ms", took.count());
    }
    std::printf("\n");
  }
  return 0;
}
