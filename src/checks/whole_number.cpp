#include "checks/whole_number.h"

#include <algorithm>
#include <limits>

namespace qor {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool HasAt(std::string_view text, std::size_t at, std::string_view part) {
  return !part.empty() && text.substr(at, part.size()) == part;
}

}  // namespace

std::optional<std::int32_t> WholeTextToInt32(std::string_view text,
                                             const platform::NumberFormat& format) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);

  std::size_t at = 0;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }

  // The magnitude stops growing just past anything a 32-bit value can hold,
  // so a long run of digits cannot overflow it and is still refused.
  constexpr std::uint64_t kPastRange = std::uint64_t{1} << 32;
  std::uint64_t magnitude = 0;
  bool any_digit = false;
  const std::string_view point = format.decimal_point;
  const std::string_view group = format.thousands_separator;
  while (at < text.size()) {
    if (IsDigit(text[at])) {
      magnitude = std::min(magnitude * 10 + static_cast<unsigned>(text[at] - '0'), kPastRange);
      any_digit = true;
      ++at;
    } else if (HasAt(text, at, point)) {
      break;
    } else if (at > 0 && IsDigit(text[at - 1]) && HasAt(text, at, group) &&
               at + group.size() < text.size() && IsDigit(text[at + group.size()])) {
      // A group separator only ever stands between two digits.
      at += group.size();
    } else {
      return std::nullopt;
    }
  }

  int first_fraction_digit = 0;
  bool more_after_first = false;  // a non-zero digit after the first one
  if (HasAt(text, at, point)) {
    at += point.size();
    for (std::size_t position = 0; at < text.size(); ++at, ++position) {
      if (!IsDigit(text[at])) return std::nullopt;
      any_digit = true;
      const int digit = text[at] - '0';
      if (position == 0) {
        first_fraction_digit = digit;
      } else if (digit != 0) {
        more_after_first = true;
      }
    }
  }
  if (!any_digit || at != text.size()) return std::nullopt;

  // Half to even, decided on the digits themselves rather than on a binary
  // fraction that may not hold them exactly.
  if (first_fraction_digit > 5 ||
      (first_fraction_digit == 5 && (more_after_first || magnitude % 2 == 1))) {
    ++magnitude;
  }

  constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int32_t>::max();
  if (magnitude > kMaxPositive + (negative ? 1 : 0)) return std::nullopt;
  const auto value = static_cast<std::int64_t>(magnitude);
  return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace qor
