#include "platform/win32/wide.h"

#include <vector>

namespace qor::platform {

std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

bool IsWellFormedUtf16(std::wstring_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c >= 0xDC00 && c <= 0xDFFF) return false;  // a low half without its high one
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    }
  }
  return true;
}

std::wstring WithoutLongPrefix(std::wstring_view path) {
  if (path.starts_with(LR"(\\?\UNC\)")) return LR"(\\)" + std::wstring(path.substr(8));
  if (path.starts_with(LR"(\\?\)")) return std::wstring(path.substr(4));
  return std::wstring(path);
}

std::wstring SystemPath(std::wstring path) {
  if (path.empty()) return {};
  if (path.starts_with(LR"(\\?\)")) return path;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  std::vector<wchar_t> full(path.size() + MAX_PATH);
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return {};
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length + 1);
  }
  std::wstring absolute(full.begin(), full.end());
  if (absolute.starts_with(LR"(\\.\)")) return absolute;  // a device, not a file
  if (absolute.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + absolute.substr(2);
  return LR"(\\?\)" + absolute;
}

std::wstring SystemPath(const std::string& path) {
  return SystemPath(Widen(path));
}

int LastError() {
  const DWORD error = ::GetLastError();
  return error == 0 ? ERROR_GEN_FAILURE : static_cast<int>(error);
}

Handle OpenForAttributes(const std::wstring& system_path, bool follow) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return Handle(::CreateFileW(system_path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, flags, nullptr));
}

}  // namespace qor::platform
