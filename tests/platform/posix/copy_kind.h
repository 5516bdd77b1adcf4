#pragma once

#include "platform/posix/cross_device_move.h"

namespace qor::testing {

// While it lives, copies across file systems are held open without a name
// (`unnamed`) or made under temporary names, as where the file system
// cannot make unnamed files.
class CopyKind {
 public:
  explicit CopyKind(bool unnamed) { platform::AllowUnnamedCopies(unnamed); }
  ~CopyKind() { platform::AllowUnnamedCopies(true); }
  CopyKind(const CopyKind&) = delete;
  CopyKind& operator=(const CopyKind&) = delete;
};

}  // namespace qor::testing
