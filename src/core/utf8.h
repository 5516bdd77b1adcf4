#pragma once

#include <cstddef>
#include <string_view>

namespace qor {

// The length of the valid UTF-8 sequence that starts at `at` (which lies
// inside `text`), 0 when none starts there: overlong forms, surrogates,
// values past U+10FFFF and sequences cut off by the end count as invalid.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

}  // namespace qor
