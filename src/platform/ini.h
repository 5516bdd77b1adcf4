#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

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
// A value holding a line break or a NUL cannot be stored as one line: false,
// and the file is unchanged.
bool WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value);

// Stores several keys of one section in a single replacement of the file; the
// result equals one WriteIniValue per key in the given order. False when the
// file cannot be written (it is then unchanged) or when a value cannot be
// stored (that key alone keeps its old line).
bool WriteIniValues(const std::string& file, const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& values);

}  // namespace qor::platform
