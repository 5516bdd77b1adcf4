// The console on Windows: stop requests through the console's control
// handler, arguments from the UTF-16 command line, and output that a
// console shows in UTF-16.

#include "platform/console.h"

#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>

#include <algorithm>
#include <atomic>

#include "platform/win32/owned_handle.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

std::atomic<int> stop_requests{0};

// Runs on a thread of its own that the system starts for each event.
BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  // A second request goes on to the system's own handler, which ends the
  // process.
  if (stop_requests.fetch_add(1) > 0) return FALSE;
  if (event == CTRL_CLOSE_EVENT) {
    // The process ends as soon as this returns: wait instead, so that the
    // run can finish the file in flight and its log, until the program
    // ends or the system's patience does.
    ::Sleep(INFINITE);
  }
  return TRUE;
}

HANDLE StandardHandle(StandardStream stream) {
  return ::GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

void CatchStopRequests() {
  ::SetConsoleCtrlHandler(OnControl, TRUE);
}

bool StopRequested() {
  return stop_requests.load() > 0;
}

bool ErrorStreamIsTerminal() {
  DWORD mode;
  const HANDLE handle = StandardHandle(StandardStream::Error);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  const LocalMemory held(wide);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Narrow(wide[i]));
  return arguments;
}

void WriteText(StandardStream stream, std::string_view text) {
  const HANDLE handle = StandardHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode;
  if (::GetConsoleMode(handle, &mode)) {
    // Carriage return and "ESC [ K" redraw the progress line; consoles
    // before Windows 10 lack this mode and show the escape as it is.
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0) {
      ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    const std::wstring wide = Widen(text);
    for (std::size_t at = 0; at < wide.size();) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 8192));
      DWORD written = 0;
      if (!::WriteConsoleW(handle, wide.data() + at, chunk, &written, nullptr) || written == 0) {
        return;
      }
      at += written;
    }
    return;
  }
  for (std::size_t at = 0; at < text.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - at, 1 << 20));
    DWORD written = 0;
    if (!::WriteFile(handle, text.data() + at, chunk, &written, nullptr) || written == 0) return;
    at += written;
  }
}

}  // namespace qor::platform
