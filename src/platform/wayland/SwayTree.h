#pragma once

#include "platform/FocusedWindow.h"

#include <optional>
#include <string>

namespace platform::wayland {

/// The focused window as sway tells it over its IPC socket (the one SWAYSOCK names): the app id of
/// a Wayland window, the X11 class of an XWayland one, and the process. Nothing without sway, or
/// when it does not answer within `seconds`.
std::optional<WindowIdentity> swayFocusedWindow(double seconds = 0.15);

/// The focused window in the text of a sway tree (the answer to GET_TREE); nothing when none is
/// focused or the text is not a tree.
std::optional<WindowIdentity> focusedInSwayTree(const std::string& json);

} // namespace platform::wayland
