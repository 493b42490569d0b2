#pragma once

#include "core/MainQueue.h"
#include "platform/Desktop.h"

#include <string>
#include <vector>

namespace app {

/// The desktop session the tray program runs in, and the one place that chooses the mechanisms for
/// it. Probed before the Qt application exists, because the choice decides Qt's platform plugin.
struct Backend {
    enum class Kind {
        none,          ///< no graphical session this program can use
        x11,           ///< an X11 session
        waylandNative, ///< Wayland with data-control and layer-shell (wlroots compositors, KWin): Qt on wayland
        waylandHybrid, ///< Wayland without them (GNOME): Qt through XWayland for the clipboard and the pill
    };
    Kind kind = Kind::none;
    /// The Qt platform plugin the application must use ("xcb", "wayland"); empty for none.
    std::string qtPlatform;
    /// The compositor's name, as far as it can be told ("sway", "KDE", "GNOME"); empty on X11.
    std::string compositor;

    /// The mechanism chosen for each part, as short names for the log and the diagnostics (the paste
    /// keys: one of the names below); empty where there is none.
    struct Mechanisms {
        std::string keys;      ///< where the trigger key is read
        std::string paste;     ///< what sends the paste keys
        std::string clipboard; ///< what holds the text while it is pasted
        std::string pill;      ///< what shows the pill
    };
    Mechanisms mechanisms;

    static constexpr const char* evdev = "evdev";
    static constexpr const char* virtualKeyboard = "virtual-keyboard";
    static constexpr const char* fakeInput = "fake-input";
    static constexpr const char* uinput = "uinput";
    static constexpr const char* portal = "портал RemoteDesktop";

    /// One line naming the session and the mechanisms, for the log and the diagnostics.
    std::string description() const;

    /// What the environment and the display servers tell about the session.
    struct Session {
        bool wayland = false; ///< XDG_SESSION_TYPE is "wayland" and WAYLAND_DISPLAY is set
        bool waylandAnswers = false;
        std::vector<std::string> globals; ///< the compositor's global interfaces
        bool x11 = false;                 ///< an X display (X11 or XWayland) answers
        std::string desktop;              ///< XDG_CURRENT_DESKTOP
        bool uinput = false;              ///< /dev/uinput may be written (Wayland sessions only)
    };

    /// Looks at the environment and asks the display servers it names.
    static Session look();
    /// The backend for `session`.
    static Backend choose(const Session& session);
    static Backend probe() { return choose(look()); }

    /// The desktop services of this backend; `main` must outlive them. Needs the Qt application.
    platform::Desktop makeDesktop(core::MainQueue& main) const;
};

} // namespace app
