#include "cli/cli_run.h"

#include <cstdlib>

#include "platform/win32/wide.h"
#include "support/temp_tree.h"

namespace qor::testing {

namespace {

// One argument as the C runtime's splitting of a command line gives it back.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  for (auto it = argument.begin();; ++it) {
    std::size_t backslashes = 0;
    for (; it != argument.end() && *it == L'\\'; ++it) ++backslashes;
    if (it == argument.end()) {
      quoted.append(backslashes * 2, L'\\');
      break;
    }
    quoted.append(*it == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    quoted.push_back(*it);
  }
  return quoted + L'"';
}

// The binary's path; a cross build names it as the build machine does, which
// wine turns into its own name for it.
std::wstring Program() {
  const std::string path = QOR_CLI;
  using DosName = wchar_t*(CDECL*)(const char*);
  const auto dos_name = reinterpret_cast<DosName>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  if (path.front() == '/' && dos_name != nullptr) {
    if (wchar_t* name = dos_name(path.c_str())) {
      std::wstring program = name;
      ::HeapFree(::GetProcessHeap(), 0, name);
      return program;
    }
  }
  return platform::Widen(path);
}

HANDLE Inheritable(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE file = ::CreateFileW(platform::Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                    &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) std::abort();
  return file;
}

}  // namespace

CliResult RunCli(const std::vector<std::string>& arguments, const std::string& cwd) {
  const std::wstring program = Program();
  std::wstring command_line = Quoted(program);
  for (const std::string& argument : arguments) {
    command_line += L' ' + Quoted(platform::Widen(argument));
  }
  TempFolder outputs;
  const std::string out_path = outputs.slash() + "out", err_path = outputs.slash() + "err";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = Inheritable(out_path);
  startup.hStdError = Inheritable(err_path);
  PROCESS_INFORMATION process{};
  const std::wstring folder = platform::Widen(cwd);
  const bool started = ::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr,
                                        TRUE, 0, nullptr, folder.c_str(), &startup, &process);
  ::CloseHandle(startup.hStdOutput);
  ::CloseHandle(startup.hStdError);
  if (!started) std::abort();
  CliResult result;
  DWORD status = 0;
  if (::WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
      ::GetExitCodeProcess(process.hProcess, &status)) {
    result.status = static_cast<int>(status);
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  return result;
}

}  // namespace qor::testing
