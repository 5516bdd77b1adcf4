#include "run/log_escapes.h"

#include "platform/files.h"

namespace qor {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsEscaped(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F || byte == '\\';
}

}  // namespace

std::string LogText(std::string_view text) {
  // Where the backslash separates folders (Windows) no name can hold it or a
  // control byte, so nothing needs escaping there; and an escape could not
  // be told from a folder named like one ("x0A").
  if (platform::kSeparator == '\\') return std::string(text);
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    // The backslash is escaped too, so that no name can spell out another
    // name's escape and every entry names exactly one file.
    if (IsEscaped(byte)) {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::optional<std::string> DecodeLogText(std::string_view text) {
  // Where the backslash is the folder separator the log escapes nothing: no
  // name there can hold a control byte or a backslash.
  if (platform::kSeparator == '\\') {
    for (const char c : text) {
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
    }
    return std::string(text);
  }
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) return std::nullopt;
    if (byte != '\\') {
      out.push_back(text[i]);
      continue;
    }
    const int high = i + 3 < text.size() && text[i + 1] == 'x' ? HexValue(text[i + 2]) : -1;
    const int low = high >= 0 ? HexValue(text[i + 3]) : -1;
    const auto value = static_cast<unsigned char>(high * 16 + low);
    // Only what the log escapes is ever written as an escape; never a NUL,
    // as names end at their first one, and the system would read a shorter
    // name than the one decoded.
    if (low < 0 || value == 0 || !IsEscaped(value)) return std::nullopt;
    out.push_back(static_cast<char>(value));
    i += 3;
  }
  return out;
}

}  // namespace qor
