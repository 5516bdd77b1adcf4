// fuzz-sources: src/platform/ini_text.cpp
//
// The INI rules on any text: reading never crashes, and a value set under a
// key reads back exactly as written while every other section's values stay
// as they were.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/ini_text.h"

namespace {

void Require(bool holds, const char* rule) {
  if (holds) return;
  std::fprintf(stderr, "INI rule broken: %s\n", rule);
  std::abort();
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first line of the input is "key=value" to store; the rest is the file.
  const std::size_t newline = input.find('\n');
  const std::string_view request = input.substr(0, newline);
  const std::string_view file =
      newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
  const std::size_t equals = request.find('=');
  const std::string key(Trimmed(request.substr(0, equals)));
  const std::string value(equals == std::string_view::npos ? std::string_view()
                                                           : request.substr(equals + 1));

  std::vector<std::string> lines = qor::platform::SplitIniLines(file);
  const auto other_before = qor::platform::FindIniValue(lines, "Other", key);
  const auto joined = qor::platform::JoinIniLines(lines);
  Require(qor::platform::SplitIniLines(joined) == lines, "lines survive a write and a read");

  // Names the file format cannot hold are not for this check; a UTF-8 mark
  // before a line is taken as an editor's.
  if (key.empty() || key.find_first_of("=[];#\r\n") != std::string::npos ||
      key.rfind("\xEF\xBB\xBF", 0) == 0 ||
      !qor::platform::IsStorableIniValue(value)) {
    return 0;
  }
  if (!qor::platform::SetIniValue(lines, "Servers", key, value)) return 0;
  const std::vector<std::string> reread =
      qor::platform::SplitIniLines(qor::platform::JoinIniLines(lines));
  const auto stored = qor::platform::FindIniValue(reread, "Servers", key);
  Require(stored.has_value() && *stored == value, "a stored value reads back");
  Require(qor::platform::FindIniValue(reread, "Other", key) == other_before,
          "another section keeps its value");
  return 0;
}
