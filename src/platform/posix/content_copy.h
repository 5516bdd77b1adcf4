#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

namespace qor::platform {

// Asked now and then during long work; false says to give it up.
using KeepGoing = std::function<bool()>;

// Asks whether to go on at most every 100 ms, so that a long copy lets the
// window live.
class Pacer {
 public:
  explicit Pacer(const KeepGoing* keep_going)
      : keep_going_(keep_going != nullptr && *keep_going ? keep_going : nullptr),
        last_(std::chrono::steady_clock::now()) {}
  bool Go() {
    if (keep_going_ == nullptr) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return true;
    last_ = now;
    return (*keep_going_)();
  }

 private:
  const KeepGoing* keep_going_;
  std::chrono::steady_clock::time_point last_;
};

// Copies the first `size` bytes of `in` to `out`, holes left as holes so
// that a sparse file needs no more room on the target than on the source.
// 0, ECANCELED when the pacer said to stop, or the errno that failed.
int CopyContent(int in, int out, off_t size, Pacer& pacer);

// Whether `a` in `a_dir` and `b` in `b_dir` are the same file in every way
// a copy keeps: kind, size, last write, mode and every byte (a link's
// target). `b` is read from its disk rather than from memory where the
// system lets go of what it holds; false too when either cannot be read.
// Neither is changed by it: where reading gives a file a new last-write
// time, the old one is put back.
bool SameAsCopied(int a_dir, const std::string& a, int b_dir, const std::string& b);

// Whether the regular file `name` in `dir`, this user's or the source's
// owner's, holds nothing but the first bytes (or all) of the regular file
// `source` in `source_dir`: a copy that a kill or a power cut left short.
bool HoldsStartOf(int dir, const std::string& name, int source_dir, const std::string& source);

}  // namespace qor::platform
