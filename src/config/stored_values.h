#pragma once

// How texts read from the settings file become the window's inputs.

#include <string>
#include <string_view>

namespace qor {

// A check box's value from its stored text: the text's leading number rounded
// half to even. Only 0, 1 and 2 are values of a check box; anything else can
// only come from a hand-edited file and reads as 0 (unchecked).
int StoredCheckValue(std::string_view stored);

// A number written back as a box's text: an integral number as plain digits
// with a leading "-" when negative, a number with a fraction with
// `decimal_point` as its separator. A number too large to be finite gives "0".
std::string StoredNumberText(double value, const std::string& decimal_point);

}  // namespace qor
