#pragma once

#include "platform/FocusedWindow.h"
#include "platform/x11/XConnection.h"

namespace platform::x11 {

/// Tells the focused window from the window manager's _NET_ACTIVE_WINDOW, or, without a window
/// manager that sets it, from the X input focus and the nearest of its ancestors with a WM_CLASS.
/// Owns its own X connection; a window that vanishes while it is read simply gives no answer.
class X11FocusedWindow : public FocusedWindow {
public:
    /// Connects to the display named by DISPLAY; without one identify() gives nullopt.
    X11FocusedWindow();

    std::optional<WindowIdentity> identify() override;

private:
    XConnection connection;
};

} // namespace platform::x11
