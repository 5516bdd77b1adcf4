#pragma once

#include <windows.h>

#include <optional>
#include <span>

#include "window/form_view.h"

namespace qor {

// One child window of the main window: what it is, where it stands (twips,
// from the client area's top-left corner) and how it looks. Labels whose
// caption never changes have no Control of their own.
struct ControlRow {
  std::optional<Control> control;
  const wchar_t* window_class;
  const wchar_t* caption;
  int left, top, width, height;
  DWORD style;
  DWORD ex_style;
};

// The client area the layout is drawn for, in twips.
inline constexpr int kClientWidthTwips = 6540;
inline constexpr int kClientHeightTwips = 3135;

// The window's controls in tab order; they are created in this order, which
// is the order the Tab key follows.
std::span<const ControlRow> ControlTable();

// The child window id of a control.
inline int ControlId(Control control) {
  return 1000 + static_cast<int>(control);
}

// Twips to pixels at `dpi` dots per inch.
inline int TwipsToPixels(int twips, int dpi) {
  return ::MulDiv(twips, dpi, 1440);
}

}  // namespace qor
