#pragma once

#include <windows.h>

namespace qor::testing {

// Wine's version when the tests run under wine, nullptr on Windows itself.
inline const char* WineVersion() {
  using Version = const char*(CDECL*)();
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const auto version = reinterpret_cast<Version>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")));
  return version != nullptr ? version() : nullptr;
}

}  // namespace qor::testing
