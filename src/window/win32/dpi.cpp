// Windows 10 knows the DPI of each monitor; older systems and wine's older
// versions only the system's. The newer functions are looked up at run time
// so that the program still starts where they are missing.
#include "window/win32/dpi.h"

#include <bit>

namespace qor {

namespace {

template <typename Function>
Function User32Function(const char* name) {
  const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  return std::bit_cast<Function>(::GetProcAddress(user32, name));
}

int SystemDpi() {
  const HDC screen = ::GetDC(nullptr);
  const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

int WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (get_dpi != nullptr && window != nullptr) {
    const UINT dpi = get_dpi(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

NONCLIENTMETRICSW NonClientMetricsForDpi(int dpi) {
  using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const auto for_dpi = User32Function<ForDpiFn>("SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (for_dpi != nullptr &&
      for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, static_cast<UINT>(dpi))) {
    return metrics;
  }
  metrics = {};
  metrics.cbSize = sizeof metrics;
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    // Given at the system's DPI.
    metrics.lfMessageFont.lfHeight = ::MulDiv(metrics.lfMessageFont.lfHeight, dpi, SystemDpi());
  } else {
    metrics.lfMessageFont.lfHeight = -::MulDiv(8, dpi, 72);
    ::lstrcpynW(metrics.lfMessageFont.lfFaceName, L"Tahoma", LF_FACESIZE);
  }
  return metrics;
}

int SystemMetricForDpi(int index, int dpi) {
  using ForDpiFn = int(WINAPI*)(int, UINT);
  static const auto for_dpi = User32Function<ForDpiFn>("GetSystemMetricsForDpi");
  if (for_dpi != nullptr) return for_dpi(index, static_cast<UINT>(dpi));
  return ::MulDiv(::GetSystemMetrics(index), dpi, SystemDpi());
}

void AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD ex_style, int dpi) {
  using ForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto for_dpi = User32Function<ForDpiFn>("AdjustWindowRectExForDpi");
  if (for_dpi != nullptr && for_dpi(&rect, style, FALSE, ex_style, static_cast<UINT>(dpi))) return;
  ::AdjustWindowRectEx(&rect, style, FALSE, ex_style);
}

}  // namespace qor
