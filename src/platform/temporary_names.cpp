#include "platform/temporary_names.h"

#include <cstdint>
#include <random>

namespace qor::platform {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

}  // namespace

std::string RandomName(std::string_view prefix) {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::uint64_t bits = generator();
  std::string name(prefix);
  for (std::size_t i = 0; i < kRandomSuffixLength; ++i) {
    name.push_back(kDigits[bits & 15]);
    bits >>= 4;
  }
  return name;
}

bool IsRandomName(std::string_view name, std::string_view prefix) {
  if (!name.starts_with(prefix) || name.size() != prefix.size() + kRandomSuffixLength) {
    return false;
  }
  for (const char c : name.substr(prefix.size())) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace qor::platform
