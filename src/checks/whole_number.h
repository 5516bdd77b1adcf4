#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/locale.h"

namespace qor {

// The locale-aware conversion of a whole text to a 32-bit signed integer:
// blanks around the text, an optional sign, digits with the locale's digit
// grouping, and a fraction (rounded half to even) are allowed. Anything else,
// or a value outside the 32-bit range, gives nullopt.
std::optional<std::int32_t> WholeTextToInt32(std::string_view text,
                                             const platform::NumberFormat& format);

}  // namespace qor
