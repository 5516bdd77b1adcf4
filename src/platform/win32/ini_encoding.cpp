#include "platform/win32/ini_encoding.h"

#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

constexpr std::string_view kUtf16Mark = "\xFF\xFE";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool IsValidUtf8(std::string_view bytes) {
  return bytes.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

std::string FromCodePage(UINT code_page, std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int length = ::MultiByteToWideChar(code_page, 0, bytes.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(code_page, 0, bytes.data(), size, wide.data(), length);
  return Narrow(wide);
}

}  // namespace

std::string DecodeIniFile(std::string_view bytes) {
  if (bytes.starts_with(kUtf16Mark)) {
    bytes.remove_prefix(kUtf16Mark.size());
    std::wstring wide(bytes.size() / 2, L'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) {
      wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return Narrow(wide);
  }
  if (bytes.starts_with(kUtf8Mark)) bytes.remove_prefix(kUtf8Mark.size());
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return FromCodePage(CP_ACP, bytes);
}

std::string EncodeIniFile(std::string_view text) {
  bool ascii = true;
  for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(text);
  const std::wstring wide = Widen(text);
  std::string bytes(kUtf16Mark);
  bytes.reserve(kUtf16Mark.size() + 2 * wide.size());
  for (const wchar_t c : wide) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
  }
  return bytes;
}

}  // namespace qor::platform
