#pragma once

#include <filesystem>

namespace core::paths {

/// The user's home folder ($HOME, else the password database).
std::filesystem::path home();

/// Where the dictionary, the terms file and the model live: $XDG_DATA_HOME/Ruvex Voice/
/// (default ~/.local/share/Ruvex Voice/). Read from the environment at each call.
std::filesystem::path applicationSupport();

/// Where the settings file lives: $XDG_CONFIG_HOME/Ruvex Voice/ (default ~/.config/Ruvex Voice/).
std::filesystem::path configDirectory();

/// $XDG_CONFIG_HOME itself (default ~/.config), for conventions such as autostart/.
std::filesystem::path configHome();

/// $XDG_RUNTIME_DIR, or a per-user folder under the temporary directory when it is unset.
std::filesystem::path runtimeDirectory();

} // namespace core::paths
