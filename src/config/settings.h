#pragma once

#include <string>

#include "core/window_inputs.h"

namespace qor {

// The settings file: "qro.ini" beside the executable; when that does not
// exist and the folder cannot be written, $XDG_CONFIG_HOME/qor/qro.ini. A
// build with QOR_USER_SETTINGS (the Debian package) always takes the latter;
// empty when the user has no settings folder.
std::string SettingsFilePath();

// The value of `key` in section "Servers" of `settings_file`, read whole;
// empty when the file, the section or the key is missing.
std::string ReadSetting(const std::string& settings_file, const std::string& key);

// Clears the three check boxes, then fills the eight inputs from the file.
void LoadSettings(WindowInputs& inputs, const std::string& settings_file);

// Writes the eight inputs, in their fixed order. Failures are not reported.
void SaveSettings(WindowInputs& inputs, const std::string& settings_file);

}  // namespace qor
