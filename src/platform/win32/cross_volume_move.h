#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "platform/files.h"

namespace qor::platform {

// The move of a file or link onto another volume. The source is held open
// against writers while it is copied into a "."-prefixed temporary in the
// destination folder (attributes, times and alternate data streams go with
// it); the copy is flushed, checked against the source, and renamed to its
// name without replacing. Only then is the source removed, through a handle
// of its own, and only when it is still the very file copied, unchanged. On
// any failure the temporary (and a renamed copy) is removed and the source is
// left as it was. Both paths are in "\\?\" form.
Outcome MoveAcrossVolumes(const std::wstring& from, const std::wstring& to);

// Removes from `folder` ("\\?\" form, ending with "\") the temporaries of
// this program that a killed run left: exactly its name pattern, regular
// files that nobody has open, created, written and changed before `since`
// (FILETIME ticks).
void RemoveStaleTemporaries(const std::wstring& folder, std::uint64_t since);

// While one of these lives, copies across volumes made on this thread ask
// `keep_going` as they progress, and are broken off (ERROR_REQUEST_ABORTED)
// when it says no. Should it throw, the copy is broken off too, and once it
// is undone (the source as it was, no temporary left) MoveAcrossVolumes
// throws that again.
class CopyProgressCheck {
 public:
  explicit CopyProgressCheck(const std::function<bool()>& keep_going);
  ~CopyProgressCheck();
  CopyProgressCheck(const CopyProgressCheck&) = delete;
  CopyProgressCheck& operator=(const CopyProgressCheck&) = delete;
  // True when a copy was broken off because `keep_going` said no.
  bool stopped() const { return stopped_; }

 private:
  friend struct CopyProgress;
  const std::function<bool()>& keep_going_;
  CopyProgressCheck* outer_;
  std::uint64_t last_asked_ = 0;
  bool stopped_ = false;
  std::exception_ptr failure_;  // what `keep_going` threw
};

}  // namespace qor::platform
