#pragma once

#include <optional>

namespace platform::lnx {

/// The desktop-wide switch that asks toolkits to expose their widgets on the accessibility bus
/// (org.a11y.Status.IsEnabled on the session bus), as a screen reader turns it on. GTK exposes its
/// widgets regardless; Qt and Chromium-based programs only when it is on at the time they start, so
/// without it the character before their caret cannot be read. The switch stays on for the rest of
/// the user's session and costs the toolkits a little work; whether to turn it on is the caller's
/// decision. Both calls block for at most a second; use them on one thread.
class ToolkitAccessibility {
public:
    /// The switch's state, or nullopt when there is no session bus or no accessibility bus service.
    static std::optional<bool> enabled();

    /// Turns the switch on or off; false when it could not be set.
    static bool setEnabled(bool on);
};

} // namespace platform::lnx
