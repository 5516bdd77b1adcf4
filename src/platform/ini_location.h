#pragma once

#include <string>

namespace qor::platform {

// Whether this process may create a file in `folder`.
bool CanCreateFileIn(const std::string& folder);

// The user's folder for settings: $XDG_CONFIG_HOME, or ~/.config when that is
// unset or not an absolute path; %APPDATA% on Windows. Without a trailing
// separator; empty when no such folder is known.
std::string UserConfigFolder();

// The user's folder for state kept between runs: $XDG_STATE_HOME, or
// ~/.local/state, as above; %LOCALAPPDATA% on Windows.
std::string UserStateFolder();

}  // namespace qor::platform
