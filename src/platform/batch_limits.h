#pragma once

// When a batch of moves across file systems is committed, on every system:
// once it holds this many files or bytes, or its first copy is this old,
// whichever comes first. While it waits on the system, the caller is asked
// whether to go on at least this often.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace qor::platform {

inline constexpr std::size_t kBatchFiles = 256;
inline constexpr std::uint64_t kBatchBytes = 64 << 20;
inline constexpr auto kBatchAge = std::chrono::milliseconds(500);
inline constexpr auto kKeepGoingEvery = std::chrono::milliseconds(100);

}  // namespace qor::platform
