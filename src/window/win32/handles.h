#pragma once

#include <windows.h>

#include <utility>

namespace qor {

// Owns one handle of the window system and gives it back with `Free` when it
// goes: a small RAII type per kind of handle.
template <typename Handle, auto Free>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  ~Owned() { Reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  Handle Release() { return std::exchange(handle_, nullptr); }
  void Reset(Handle handle = nullptr) {
    if (handle_ != nullptr) Free(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

inline void FreeFont(HFONT font) {
  ::DeleteObject(font);
}
inline void FreeBrush(HBRUSH brush) {
  ::DeleteObject(brush);
}
inline void FreeIcon(HICON icon) {
  ::DestroyIcon(icon);
}
inline void FreeWindow(HWND window) {
  ::DestroyWindow(window);
}

using FontHandle = Owned<HFONT, FreeFont>;
using BrushHandle = Owned<HBRUSH, FreeBrush>;
using IconHandle = Owned<HICON, FreeIcon>;
using WindowHandle = Owned<HWND, FreeWindow>;

// A device context of a window, released when it goes.
class WindowDC {
 public:
  explicit WindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
  ~WindowDC() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a device context for as long as it lives.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~SelectedObject() { ::SelectObject(dc_, previous_); }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace qor
