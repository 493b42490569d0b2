#pragma once

#include "core/MainQueue.h"
#include "platform/Desktop.h"

#include <string>

namespace app {

/// The desktop session the tray program runs in, and the one place that chooses the mechanisms for
/// it. Probed before the Qt application exists, because the choice decides Qt's platform plugin.
struct Backend {
    enum class Kind {
        none, ///< no graphical session this program can use
        x11,  ///< an X server (also XWayland under a Wayland session)
    };
    Kind kind = Kind::none;
    /// The Qt platform plugin the application must use ("xcb"); empty for none.
    std::string qtPlatform;
    /// One line naming the session, for the log and the diagnostics.
    std::string description;

    /// Looks at the environment and asks the display servers it names.
    static Backend probe();

    /// The desktop services of this backend; `main` must outlive them. Needs the Qt application.
    platform::Desktop makeDesktop(core::MainQueue& main) const;
};

} // namespace app
