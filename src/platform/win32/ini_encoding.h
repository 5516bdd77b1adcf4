#pragma once

// How a settings file's bytes become the UTF-8 text the INI rules work on,
// and back.

#include <string>
#include <string_view>

namespace qor::platform {

// The text of a settings file: UTF-16LE after a byte-order mark, UTF-8 (a
// byte-order mark dropped), or, when the bytes are not valid UTF-8, the ANSI
// code page of a file written by an older program.
std::string DecodeIniFile(std::string_view bytes);

// The bytes to store: the text itself when it is all ASCII (what Windows'
// own profile functions write), otherwise UTF-16LE after a byte-order mark,
// which those functions read and keep.
std::string EncodeIniFile(std::string_view text);

}  // namespace qor::platform
