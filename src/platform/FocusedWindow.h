#pragma once

#include <optional>
#include <string>

namespace platform {

/// The window that has the keyboard focus, as far as the desktop tells it.
struct WindowIdentity {
    std::string instance;         ///< first WM_CLASS string (the program's resource name); on Wayland the app id
    std::string className;        ///< second WM_CLASS string (the application class); on Wayland the app id or
                                  ///< the application's accessible name
    std::optional<int> processId; ///< the owning process, when the window says it
    bool terminal = false;        ///< the focused object is a terminal, as the accessibility bus says
};

/// Reads which window has the keyboard focus.
class FocusedWindow {
public:
    FocusedWindow() = default;
    FocusedWindow(const FocusedWindow&) = delete;
    FocusedWindow& operator=(const FocusedWindow&) = delete;
    virtual ~FocusedWindow() = default;

    /// The focused top-level window's identity, or nullopt when it cannot be told. Main thread.
    virtual std::optional<WindowIdentity> identify() = 0;
};

} // namespace platform
