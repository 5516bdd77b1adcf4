// fuzz-sources: src/run/name_filter.cpp src/core/utf8.cpp
//
// Patterns and paths of any bytes, the first NUL between them: no crash, no
// undefined behaviour, no exponential matching, and the rules hold.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "run/name_filter.h"

namespace {

void Require(bool holds, const char* rule, std::string_view pattern, std::string_view path) {
  if (holds) return;
  std::fprintf(stderr, "GlobPattern breaks a rule: %s\npattern:", rule);
  for (const char c : pattern) std::fprintf(stderr, " %02x", static_cast<unsigned char>(c));
  std::fprintf(stderr, "\npath:");
  for (const char c : path) std::fprintf(stderr, " %02x", static_cast<unsigned char>(c));
  std::fprintf(stderr, "\n");
  std::abort();
}

std::string WithCase(std::string_view text, bool upper) {
  std::string changed(text);
  for (char& c : changed) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return changed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view pattern_text = input.substr(0, nul);
  const std::string_view path = nul == std::string_view::npos ? "" : input.substr(nul + 1);

  for (const qor::NameRules rules : {qor::NameRules::Posix, qor::NameRules::Windows}) {
    std::string why;
    const std::optional<qor::GlobPattern> pattern =
        qor::GlobPattern::Read(pattern_text, rules, why);
    Require(pattern.has_value() == why.empty(), "refused exactly when it says why", pattern_text,
            path);
    if (!pattern) continue;
    const bool matches = pattern->Matches(path);
    if (rules == qor::NameRules::Windows) {
      Require(pattern->Matches(WithCase(path, true)) == matches &&
                  pattern->Matches(WithCase(path, false)) == matches,
              "ASCII letter case does not count on Windows", pattern_text, path);
    }
  }

  // A name, its special characters made plain, matches itself, and "*"
  // before or after it still does.
  if (!path.empty() && path.find('/') == std::string_view::npos) {
    std::string plain;
    for (const char c : path) {
      if (c == '*' || c == '?' || c == '[' || c == '\\') plain += '\\';
      plain += c;
    }
    for (const std::string& text : {plain, "*" + plain, plain + "*", "**" + plain}) {
      std::string why;
      const std::optional<qor::GlobPattern> pattern =
          qor::GlobPattern::Read(text, qor::NameRules::Posix, why);
      Require(pattern && pattern->Matches(path), "a plain name matches itself", text, path);
      Require(pattern->Matches("a/b/" + std::string(path)), "a name matches below folders", text,
              path);
    }
  }
  return 0;
}
