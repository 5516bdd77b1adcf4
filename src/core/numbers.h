#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qor {

// The value of the number a text starts with. Blanks, tabs and line feeds are
// ignored wherever they stand; an optional sign, digits and an optional "."
// fraction are read (the decimal point is always "."); reading stops at the
// first character that cannot continue the number. No number gives 0, so
// "12abc" gives 12 and "abc" gives 0.
double LeadingNumber(std::string_view text);

// Nearest integer, an exact half going to the even neighbour (2.5 -> 2, 3.5 -> 4).
// NaN gives 0.
double RoundHalfEven(double value);

// RoundHalfEven, then held in the integer range [low, high]: nullopt when the
// rounded value lies outside it.
std::optional<std::int64_t> RoundToRange(double value, std::int64_t low, std::int64_t high);

// RoundHalfEven, then clamped into the 32-bit signed range.
std::int32_t RoundClampInt32(double value);

// Plain decimal digits with a leading "-" when negative: no grouping, no
// leading zeros.
std::string IntegerText(std::int64_t value);

}  // namespace qor
