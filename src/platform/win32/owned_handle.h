#pragma once

// The one owned type for every kind of handle the program takes from
// Windows: kernel objects, folder searches, memory the system allocated, and
// the window system's windows, fonts, brushes and icons.

#include <windows.h>

#include <cstdint>
#include <utility>

namespace qor::platform {

// Owns one handle and gives it back with `Free` when it goes. `kNone` is what
// the handle's maker gives on failure (INVALID_HANDLE_VALUE is -1); null
// never stands for a handle of any kind either.
template <typename Raw, auto Free, std::intptr_t kNone = 0>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Raw handle) : handle_(handle) {}
  ~Owned() { Reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : handle_(other.Release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  bool IsValid() const { return handle_ != None() && handle_ != Raw{}; }
  explicit operator bool() const { return IsValid(); }
  Raw get() const { return handle_; }
  // Gives the handle up without freeing it.
  Raw Release() { return std::exchange(handle_, None()); }
  void Reset(Raw handle = None()) {
    if (IsValid()) Free(handle_);
    handle_ = handle;
  }

 private:
  static Raw None() { return reinterpret_cast<Raw>(kNone); }

  Raw handle_ = None();
};

inline void CloseKernelHandle(HANDLE handle) {
  ::CloseHandle(handle);
}
inline void CloseSearch(HANDLE search) {
  ::FindClose(search);
}
inline void FreeLocalMemory(HLOCAL memory) {
  ::LocalFree(memory);
}

// A file, folder or other kernel object, as CreateFileW opens it.
using Handle = Owned<HANDLE, CloseKernelHandle, -1>;
// A folder search, as FindFirstFileExW begins it.
using SearchHandle = Owned<HANDLE, CloseSearch, -1>;
// Memory the system allocated for a result (FormatMessageW,
// CommandLineToArgvW).
using LocalMemory = Owned<HLOCAL, FreeLocalMemory>;

}  // namespace qor::platform
