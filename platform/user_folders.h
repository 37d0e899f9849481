#pragma once

#include <filesystem>

namespace tarvona::platform {

// The current user's folders. On Linux they follow the XDG base directory
// rules: a setting that is not an absolute path is ignored. Each is empty
// when the user has no home folder.

// $HOME when absolute, else the home folder of the user's account.
std::filesystem::path HomeFolder();
// Per-user data: $XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path UserDataFolder();
// Per-user settings: $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path UserConfigFolder();

}  // namespace tarvona::platform
