// fuzz-sources: src/run/log_escapes.cpp src/run/log_entries.cpp src/run/path_text.cpp
//
// The run log's text on any bytes. Read as a log: no crash, and no entry read
// as moved leads out of the source. Read as a name (up to its first NUL, as
// the walker sees names) and a target folder (after it): the name's text
// decodes back to the name, and the entry written for them reads back as
// that name and folder when the name is a place below the source.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "run/log_entries.h"
#include "run/log_escapes.h"
#include "run/log_format.h"
#include "run/path_text.h"

namespace {

void Require(bool holds, const char* rule) {
  if (holds) return;
  std::fprintf(stderr, "run log rule broken: %s\n", rule);
  std::abort();
}

// Folder names joined by "/", none empty or hidden: what the walk writes.
bool IsPlaceBelowSource(std::string_view relative) {
  for (std::size_t start = 0;;) {
    const std::size_t end = relative.find('/', start);
    const std::string_view part = relative.substr(start, end - start);
    if (part.empty() || part.front() == '.') return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const qor::LogEntries log = qor::ReadLogEntries(bytes);
  for (const qor::LogEntry& entry : log.entries) {
    Require(entry.kind == qor::LogEntry::Moved || entry.relative.empty(), "places of a move only");
    if (entry.kind != qor::LogEntry::Moved) continue;
    Require(IsPlaceBelowSource(entry.relative), "a moved file's place lies below the source");
    Require(!log.target.empty() && log.target.back() == '/', "a target is a folder");
    Require(entry.text.size() <= qor::kLongestLogLine, "no overlong line is read");
  }

  const std::string name = qor::TrimAtNull(bytes);
  const std::string written = qor::LogText(name);
  Require(qor::DecodeLogText(written) == name, "a name decodes back to itself");
  Require(written.find_first_of("\r\n") == std::string::npos, "a name stays on its line");

  const std::string target =
      qor::AddBackslash("/" + qor::TrimAtNull(bytes.substr(std::min(size, name.size() + 1))));
  const qor::LogEntries one =
      qor::ReadLogEntries(written + std::string(qor::kMovedTo) + qor::LogText(target) + "\r\n");
  Require(one.entries.size() == 1, "an entry is one line");
  const bool found = one.entries[0].relative == name && one.target == target;
  // A line whose name and target both hold the separator text can be read
  // more than one way; the reader then takes the target to be the shorter.
  if (target.find(qor::kMovedTo) == std::string::npos) {
    Require(found == IsPlaceBelowSource(name),
            "an entry reads back as written, if below the source");
  }
  return 0;
}
