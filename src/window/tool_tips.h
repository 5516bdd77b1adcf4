#pragma once

#include "window/form_view.h"

namespace qor {

// The tool tip of `control`, or null where it has none. They explain what
// the window's own captions cannot say: how "<" and ">" compare a file's
// date, and what each date box takes. Both views show the same texts.
const char* ToolTipOf(Control control);

}  // namespace qor
