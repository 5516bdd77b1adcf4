// fuzz-sources: src/core/numbers.cpp
//
// LeadingNumber on any bytes: no crash, no undefined behaviour, and the
// rules of the notation hold.

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/numbers.h"

namespace {

void Require(bool holds, const char* rule, std::string_view text) {
  if (holds) return;
  std::fprintf(stderr, "LeadingNumber breaks a rule: %s\ntext (%zu bytes):", rule, text.size());
  for (const char c : text) std::fprintf(stderr, " %02x", static_cast<unsigned char>(c));
  std::fprintf(stderr, "\n");
  std::abort();
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The part of a blank-free text the notation reads: sign, digits, one point.
std::string NumberPart(std::string_view text) {
  std::string part;
  bool sign = false, point = false, digit = false;
  for (const char c : text) {
    if ((c == '-' || c == '+') && !sign && !point && !digit) {
      sign = true;
      part.push_back(c);
    } else if (c == '.' && !point) {
      point = true;
      part.push_back(c);
    } else if (IsDigit(c)) {
      digit = true;
      part.push_back(c);
    } else {
      break;
    }
  }
  return digit ? part : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const double value = qor::LeadingNumber(text);
  Require(!std::isnan(value), "never NaN", text);

  std::string without_blanks, more_blanks;
  for (const char c : text) {
    if (!IsBlank(c)) without_blanks.push_back(c);
    more_blanks += ' ';
    more_blanks += c;
    more_blanks += "\t\n";
  }
  Require(qor::LeadingNumber(without_blanks) == value, "blanks count nowhere (removed)", text);
  Require(qor::LeadingNumber(more_blanks) == value, "blanks count nowhere (added)", text);
  Require(qor::LeadingNumber(std::string(text) + "x") == value, "what follows does not count",
          text);

  if (!without_blanks.empty() && (IsDigit(without_blanks[0]) || without_blanks[0] == '.')) {
    Require(qor::LeadingNumber("-" + std::string(text)) == -value, "a minus negates", text);
  }

  const std::string number = NumberPart(without_blanks);
  if (number.empty()) {
    Require(value == 0.0, "no number gives 0", text);
    return 0;
  }
  // Wherever the C library's reading lies in the normal range (or is an
  // exact zero, or too large for any double), the two agree to the bit.
  errno = 0;
  const double expected = std::strtod(number.c_str(), nullptr);
  const bool overflow = errno == ERANGE && std::isinf(expected);
  if (overflow || (errno == 0 && (std::isnormal(expected) || expected == 0.0))) {
    Require(value == expected, "agrees with strtod", text);
  }
  return 0;
}
