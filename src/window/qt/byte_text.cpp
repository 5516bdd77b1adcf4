#include "window/qt/byte_text.h"

#include "core/utf8.h"

namespace qor {

namespace {

constexpr char16_t kEscapeBase = 0xDC80;  // U+DC80..U+DCFF carry bytes 0x80..0xFF

void AppendUtf8(std::string& out, char32_t value) {
  if (value < 0x80) {
    out += static_cast<char>(value);
  } else if (value < 0x800) {
    out += static_cast<char>(0xC0 | (value >> 6));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else if (value < 0x10000) {
    out += static_cast<char>(0xE0 | (value >> 12));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (value >> 18));
    out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
  }
}

}  // namespace

QString DecodeBytes(const std::string& bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t length = Utf8SequenceLength(bytes, at);
    if (length == 0) {
      text +=
          QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[at]) - 0x80));
      ++at;
      continue;
    }
    text += QString::fromUtf8(bytes.data() + at, static_cast<qsizetype>(length));
    at += length;
  }
  return text;
}

std::string EncodeText(const QString& text) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(text.size()));
  for (qsizetype at = 0; at < text.size(); ++at) {
    const char16_t unit = text.at(at).unicode();
    if (QChar::isHighSurrogate(unit) && at + 1 < text.size() &&
        QChar::isLowSurrogate(text.at(at + 1).unicode())) {
      AppendUtf8(bytes, QChar::surrogateToUcs4(unit, text.at(at + 1).unicode()));
      ++at;
    } else if (unit >= kEscapeBase && unit <= kEscapeBase + 0x7F) {
      bytes += static_cast<char>(unit - kEscapeBase + 0x80);
    } else if (QChar::isSurrogate(unit)) {
      // Any other lone surrogate has no bytes behind it; write U+FFFD.
      AppendUtf8(bytes, 0xFFFD);
    } else {
      AppendUtf8(bytes, unit);
    }
  }
  return bytes;
}

}  // namespace qor
