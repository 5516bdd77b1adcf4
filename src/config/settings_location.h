#pragma once

#include <string>

namespace qor {

// The file that the Windows setup program puts beside the programs it
// installs.
inline constexpr const char* kInstalledMarker = "qor-installed.txt";

// The settings file for a program whose executable lies in
// `executable_folder`: UserSettingsFilePath() for an installed copy (one with
// kInstalledMarker beside it); otherwise "qro.ini" there, unless no such file
// exists and the folder cannot be written, then UserSettingsFilePath().
std::string SettingsFilePathFor(const std::string& executable_folder);

// "qro.ini" in the folder "qor" of the user's settings folder; empty when no
// such folder is known.
std::string UserSettingsFilePath();

}  // namespace qor
