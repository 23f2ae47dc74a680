#pragma once

// Where per-user files live, following the XDG base-directory rules. Every function reads
// the environment when called, so a changed XDG_* or HOME variable takes effect at once.

#include <filesystem>

namespace pelkora::paths {

// The user's home folder: $HOME when set and absolute, else the password database's entry.
std::filesystem::path homeFolder();

// $XDG_CONFIG_HOME when set and absolute, else ~/.config.
std::filesystem::path configHome();
// $XDG_STATE_HOME when set and absolute, else ~/.local/state.
std::filesystem::path stateHome();
// $XDG_DATA_HOME when set and absolute, else ~/.local/share.
std::filesystem::path dataHome();
// $XDG_CACHE_HOME when set and absolute, else ~/.cache.
std::filesystem::path cacheHome();

// configHome()/pelkora: the settings file and the user's custom mappings.
std::filesystem::path applicationConfigFolder();
// stateHome()/pelkora: logs and other state that is not worth backing up.
std::filesystem::path applicationStateFolder();
// dataHome()/pelkora: data the application creates for the user.
std::filesystem::path applicationDataFolder();

}  // namespace pelkora::paths
