#pragma once

#include <windows.h>

namespace qor {

// Dots per inch of the monitor that shows `window` (the system's when the
// system cannot tell per monitor).
int WindowDpi(HWND window);

// The system's metrics of fonts and frames at `dpi`.
NONCLIENTMETRICSW NonClientMetricsForDpi(int dpi);
int SystemMetricForDpi(int index, int dpi);

// The window rectangle around the client rectangle `rect` at `dpi`.
void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD ex_style, int dpi);

}  // namespace qor
