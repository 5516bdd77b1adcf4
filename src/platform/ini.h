#pragma once

#include <optional>
#include <string>

namespace qor::platform {

// A small private-profile (INI) reader and writer with the Windows rules:
// section and key names match ignoring letter case, blanks around a value are
// dropped, reading accepts LF and CR LF, writing keeps every other section,
// key and comment line and ends lines with CR LF, and a write replaces the
// file atomically.

// The value of `key` in `section` of `file`; nullopt when the file, section or
// key is missing.
std::optional<std::string> ReadIniValue(const std::string& file, const std::string& section,
                                        const std::string& key);

// Stores `value` under `key` of `section`, creating the section and the file
// when missing. False when the file cannot be written (it is then unchanged).
bool WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value);

}  // namespace qor::platform
