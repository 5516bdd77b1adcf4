#include "config/stored_values.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "core/numbers.h"

namespace qor {

int StoredCheckValue(std::string_view stored) {
  const auto value = RoundToRange(LeadingNumber(stored), INT16_MIN, INT16_MAX);
  if (!value || *value < 0 || *value > 2) return 0;
  return static_cast<int>(*value);
}

std::string StoredNumberText(double value, const std::string& decimal_point) {
  // Zero also covers -0, which has no sign of its own in a text box.
  if (!std::isfinite(value) || value == 0.0) return "0";
  // The shortest text that reads back as the same number, never with an
  // exponent: the box shows plain digits, as a user would type them.
  char buffer[400];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (error != std::errc()) return "0";
  std::string text(buffer, end);
  if (const std::size_t point = text.find('.'); point != std::string::npos) {
    text.replace(point, 1, decimal_point);
  }
  return text;
}

}  // namespace qor
