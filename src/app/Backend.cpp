#include "app/Backend.h"

#include "platform/linux/AtspiCaretProbe.h"
#include "platform/linux/LibsecretStore.h"
#include "platform/linux/PulseAudioSource.h"
#include "platform/qt/QtClipboard.h"
#include "platform/x11/X11FocusedWindow.h"
#include "platform/x11/X11Trust.h"
#include "platform/x11/XConnection.h"
#include "platform/x11/XInputKeyMonitor.h"
#include "platform/x11/XTestKeySender.h"

#include <cstdlib>
#include <memory>
#include <string_view>

namespace app {

Backend Backend::probe() {
    Backend backend;
    // Under a Wayland session the X11 mechanisms reach the desktop through XWayland.
    if (platform::x11::XConnection()) {
        const char* session = std::getenv("XDG_SESSION_TYPE");
        const bool wayland = session && std::string_view(session) == "wayland";
        backend.kind = Kind::x11;
        backend.qtPlatform = "xcb";
        backend.description = wayland ? "Wayland через XWayland" : "X11";
    }
    return backend;
}

platform::Desktop Backend::makeDesktop(core::MainQueue& main) const {
    platform::Desktop desktop;
    desktop.description = description;
    desktop.keyMonitor = std::make_unique<platform::x11::XInputKeyMonitor>(main);
    desktop.keySender = std::make_unique<platform::x11::XTestKeySender>(main);
    desktop.clipboard = std::make_unique<platform::qt::QtClipboard>();
    auto focus = std::make_unique<platform::x11::X11FocusedWindow>();
    // Asking only the focused window's application keeps a hung one elsewhere from costing time.
    desktop.caretProbe =
        std::make_unique<platform::lnx::AtspiCaretProbe>([window = focus.get()]() -> std::optional<int> {
            auto identity = window->identify();
            return identity ? identity->processId : std::nullopt;
        });
    desktop.focusedWindow = std::move(focus);
    desktop.trust = std::make_unique<platform::x11::X11Trust>();
    desktop.secretStore = std::make_shared<platform::lnx::LibsecretStore>();
    desktop.microphone = [] { return std::make_unique<platform::lnx::PulseAudioSource>(); };
    desktop.microphoneState = [] { return platform::lnx::PulseAudioSource::microphoneState(); };
    desktop.translucency = [connection = std::make_shared<platform::x11::XConnection>()] {
        return connection->compositing();
    };
    return desktop;
}

} // namespace app
