#pragma once

#include <QString>
#include <string>

namespace qor {

// Paths are byte strings that need not be valid UTF-8, yet Qt's own
// conversion turns every stray byte into U+FFFD and so names another file.
// Here each byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC80 + byte on the way in and the same byte on the way out, so every byte
// string survives the trip through a text box.
QString DecodeBytes(const std::string& bytes);
std::string EncodeText(const QString& text);

}  // namespace qor
