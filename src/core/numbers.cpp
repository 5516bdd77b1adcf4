#include "core/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace qor {

namespace {

bool IsIgnoredBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

double LeadingNumber(std::string_view text) {
  std::string number;  // sign, digits and "." as read, blanks dropped
  bool seen_sign = false;
  bool seen_point = false;
  bool seen_digit = false;
  for (char c : text) {
    if (IsIgnoredBlank(c)) continue;
    if ((c == '-' || c == '+') && !seen_sign && !seen_point && !seen_digit) {
      seen_sign = true;
      if (c == '-') number.push_back('-');
    } else if (c == '.' && !seen_point) {
      seen_point = true;
      number.push_back('.');
    } else if (IsDigit(c)) {
      seen_digit = true;
      number.push_back(c);
    } else {
      break;
    }
  }
  if (!seen_digit) return 0.0;

  const char* first = number.data();
  const char* last = number.data() + number.size();
  const bool negative = *first == '-';
  if (negative) ++first;
  double value = 0.0;
  auto [end, error] = std::from_chars(first, last, value, std::chars_format::fixed);
  (void)end;
  if (error == std::errc::result_out_of_range) {
    // Either far too large or too small to tell from zero: decide by the
    // integer part.
    bool integer_part_nonzero = false;
    for (const char* p = first; p != last && *p != '.'; ++p) {
      if (*p != '0') integer_part_nonzero = true;
    }
    value = integer_part_nonzero ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (error != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

double RoundHalfEven(double value) {
  if (std::isnan(value)) return 0.0;
  // The default floating-point rounding mode is to nearest, ties to even.
  return std::nearbyint(value);
}

std::optional<std::int64_t> RoundToRange(double value, std::int64_t low, std::int64_t high) {
  if (std::isnan(value)) return std::nullopt;
  const double rounded = RoundHalfEven(value);
  if (!(rounded >= static_cast<double>(low) && rounded <= static_cast<double>(high))) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(rounded);
}

std::int32_t RoundClampInt32(double value) {
  const double rounded = RoundHalfEven(value);
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  if (rounded <= kMin) return kMin;
  if (rounded >= kMax) return kMax;
  return static_cast<std::int32_t>(rounded);
}

std::string IntegerText(std::int64_t value) {
  return std::to_string(value);
}

}  // namespace qor
