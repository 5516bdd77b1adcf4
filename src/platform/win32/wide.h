#pragma once

// The one place where the program's UTF-8 text meets the UTF-16 of the
// Windows API, and where a path becomes one that any length may take.

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/win32/owned_handle.h"

namespace qor::platform {

// UTF-8 to UTF-16; bytes that are not UTF-8 become U+FFFD.
std::wstring Widen(std::string_view text);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view text);

// Whether every surrogate of `text` is one of a pair. A name with a lone one
// (which Windows allows) has no UTF-8 form: Narrow gives U+FFFD in its place,
// and that leads back to another name.
bool IsWellFormedUtf16(std::wstring_view text);

// `path` as the wide-character API takes it at any length: made absolute
// against the current folder ("." and ".." resolved, "/" read as "\"), then
// given the "\\?\" prefix ("\\?\UNC\" for "\\server\share\..."). Empty when
// the path cannot be made absolute.
std::wstring SystemPath(const std::string& path);

// SystemPath of a path already in UTF-16.
std::wstring SystemPath(std::wstring path);

// A path without its "\\?\" or "\\?\UNC\" prefix, as users write it.
std::wstring WithoutLongPrefix(std::wstring_view path);

// The last error of the calling thread, never 0 (a call that failed without
// saying why counts as ERROR_GEN_FAILURE).
int LastError();

// Opens `path` for its attributes only. With `follow` false a link or
// junction is opened itself, not what it leads to.
Handle OpenForAttributes(const std::wstring& system_path, bool follow);

}  // namespace qor::platform
