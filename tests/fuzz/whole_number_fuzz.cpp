// fuzz-sources: src/checks/whole_number.cpp
//
// The whole-text integer conversion on any bytes, under a plain and a
// digit-grouping number format: no crash, and what it accepts is a plain
// integer text's value once separators and blanks are set aside.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "checks/whole_number.h"

namespace {

void Require(bool holds, const char* rule) {
  if (holds) return;
  std::fprintf(stderr, "whole-number rule broken: %s\n", rule);
  std::abort();
}

void Check(std::string_view text, const qor::platform::NumberFormat& format) {
  const std::optional<std::int32_t> value = qor::WholeTextToInt32(text, format);
  if (!value) return;
  // An accepted text holds digits, and its value written plainly reads back.
  Require(text.find_first_of("0123456789") != std::string_view::npos, "accepted text has digits");
  const std::string plain = std::to_string(*value);
  Require(qor::WholeTextToInt32(plain, format) == value, "plain digits read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Check(text, qor::platform::NumberFormat{".", ""});
  Check(text, qor::platform::NumberFormat{",", "."});
  Check(text, qor::platform::NumberFormat{".", "\xe2\x80\xaf"});  // narrow no-break space
  return 0;
}
