#pragma once

#include "platform/FocusedWindow.h"

#include <functional>
#include <optional>

namespace platform::lnx {

/// The focused window as the accessibility bus (AT-SPI) tells it, which works on every Wayland
/// desktop: the application with an active window (its name and process), and whether the focused
/// object in it is a terminal. Applications the bus does not know (terminals without accessibility,
/// programs started before it) leave it silent; `fallback` then answers (the compositor's own IPC,
/// or the X server). Every bus call is bounded like the caret probe's. Use on one thread only.
class AtspiFocusedWindow : public FocusedWindow {
public:
    explicit AtspiFocusedWindow(std::function<std::optional<WindowIdentity>()> fallback = {});

    std::optional<WindowIdentity> identify() override;

    /// The accessibility answer alone.
    static std::optional<WindowIdentity> fromAccessibility();

private:
    std::function<std::optional<WindowIdentity>()> fallback;
};

} // namespace platform::lnx
