#pragma once

#include <windows.h>

#include "platform/win32/owned_handle.h"

namespace qor {

inline void FreeFont(HFONT font) {
  ::DeleteObject(font);
}
inline void FreeIcon(HICON icon) {
  ::DestroyIcon(icon);
}
inline void FreeWindow(HWND window) {
  ::DestroyWindow(window);
}

// The window system's handles, each given back its own way.
using FontHandle = platform::Owned<HFONT, FreeFont>;
using IconHandle = platform::Owned<HICON, FreeIcon>;
using WindowHandle = platform::Owned<HWND, FreeWindow>;

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
