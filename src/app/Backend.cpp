#include "app/Backend.h"

#include "platform/linux/AtspiCaretProbe.h"
#include "platform/linux/AtspiFocusedWindow.h"
#include "platform/linux/EvdevKeyMonitor.h"
#include "platform/linux/InputAccess.h"
#include "platform/linux/LibsecretStore.h"
#include "platform/linux/PortalKeySender.h"
#include "platform/linux/PulseAudioSource.h"
#include "platform/linux/UinputKeySender.h"
#include "platform/qt/QtClipboard.h"
#include "platform/wayland/DataControlClipboard.h"
#include "platform/wayland/FakeInputKeySender.h"
#include "platform/wayland/LayerShellPill.h"
#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/SwayTree.h"
#include "platform/wayland/VirtualKeyboardKeySender.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/x11/X11FocusedWindow.h"
#include "platform/x11/X11Trust.h"
#include "platform/x11/XConnection.h"
#include "platform/x11/XInputKeyMonitor.h"
#include "platform/x11/XTestKeySender.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace app {

namespace {

bool offers(const Backend::Session& session, std::string_view interface) {
    return std::find(session.globals.begin(), session.globals.end(), interface) != session.globals.end();
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The compositor's name: what the session says, else what its globals give away.
std::string compositorOf(const Backend::Session& session) {
    if (!session.desktop.empty()) {
        return session.desktop;
    }
    if (std::any_of(session.globals.begin(), session.globals.end(),
                    [](const std::string& name) { return name.rfind("org_kde_", 0) == 0; })) {
        return "KWin";
    }
    if (offers(session, "gtk_shell1")) {
        return "Mutter";
    }
    if (offers(session, "zwlr_layer_shell_v1")) {
        return "wlroots";
    }
    return "";
}

// The keys of every Wayland desktop: the trigger from the kernel's event devices, and the paste keys
// through the mechanism chosen, with its state for the first-run window.
void waylandKeys(const Backend& backend, core::MainQueue& main, platform::Desktop& desktop) {
    namespace lnx = platform::lnx;
    const auto source = lnx::InputSource::fromEnvironment();
    auto devices = std::make_shared<lnx::SystemInputDevices>();
    auto monitor = std::make_unique<lnx::EvdevKeyMonitor>(main, source, devices);
    const lnx::EvdevKeyMonitor* keys = monitor.get();
    // Only how many modifiers the user holds, for the wait before a paste.
    platform::HeldModifiers held = [keys] { return keys->heldModifiers(); };
    std::function<platform::PasteAccess()> paste;
    const std::string& chosen = backend.mechanisms.paste;
    if (chosen == Backend::virtualKeyboard || chosen == Backend::fakeInput) {
        std::unique_ptr<platform::wayland::WaylandKeySender> sender;
        if (chosen == Backend::virtualKeyboard)
            sender = std::make_unique<platform::wayland::VirtualKeyboardKeySender>(main, held);
        else
            sender = std::make_unique<platform::wayland::FakeInputKeySender>(main, held);
        paste = [sender = sender.get()] {
            return sender->usable() ? platform::PasteAccess::ready : platform::PasteAccess::unavailable;
        };
        desktop.keySender = std::move(sender);
    } else if (chosen == Backend::uinput) {
        auto sender = std::make_unique<lnx::UinputKeySender>(main, held, devices);
        sender->latinV = platform::wayland::SeatKeymap::watch(main);
        paste = [] { return platform::PasteAccess::ready; };
        desktop.keySender = std::move(sender);
    } else {
        auto sender = std::make_unique<lnx::PortalKeySender>(main, desktop.secretStore, held);
        sender->latinV = platform::wayland::SeatKeymap::watch(main);
        paste = [] { return platform::PasteAccess::askFirst; };
        desktop.keySender = std::move(sender);
    }
    desktop.trust = std::make_unique<lnx::EvdevTrust>(std::move(paste), keys, source, devices);
    desktop.keyMonitor = std::move(monitor);
}

// The caret probe asks only the focused window's application, so a hung one elsewhere costs nothing.
std::unique_ptr<platform::CaretProbe> caretProbeFor(platform::FocusedWindow& focus) {
    return std::make_unique<platform::lnx::AtspiCaretProbe>([window = &focus]() -> std::optional<int> {
        auto identity = window->identify();
        return identity ? identity->processId : std::nullopt;
    });
}

// The program's own windows copy through Qt's clipboard, which answers other programs from the main
// thread: while the data-control clipboard waits there for the bytes, they are read in-process.
std::optional<platform::ClipboardContents> qtOwnContents(platform::Selection selection) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    const bool primary = selection == platform::Selection::primary;
    if (!(primary ? clipboard->ownsSelection() : clipboard->ownsClipboard())) {
        return std::nullopt;
    }
    platform::ClipboardContents contents;
    if (const QMimeData* data = clipboard->mimeData(primary ? QClipboard::Selection : QClipboard::Clipboard)) {
        for (const QString& format : data->formats()) {
            const QByteArray bytes = data->data(format);
            contents.push_back(
                {format.toStdString(), std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()))});
        }
    }
    return contents;
}

} // namespace

std::string Backend::description() const {
    std::string session;
    switch (kind) {
    case Kind::none:
        return "нет графического сеанса";
    case Kind::x11:
        session = "X11";
        break;
    case Kind::waylandNative:
        session = "Wayland (" + (compositor.empty() ? std::string("?") : compositor) + "), свой режим";
        break;
    case Kind::waylandHybrid:
        session = "Wayland (" + (compositor.empty() ? std::string("?") : compositor) + "), через XWayland";
        break;
    }
    auto part = [](const std::string& value) { return value.empty() ? std::string("нет") : value; };
    return session + ": клавиши " + part(mechanisms.keys) + ", вставка " + part(mechanisms.paste) + ", буфер " +
           part(mechanisms.clipboard) + ", пилюля " + part(mechanisms.pill);
}

Backend::Session Backend::look() {
    Session session;
    session.desktop = environment("XDG_CURRENT_DESKTOP");
    session.wayland = environment("XDG_SESSION_TYPE") == "wayland" && !environment("WAYLAND_DISPLAY").empty();
    if (session.wayland) {
        if (auto globals = platform::wayland::WaylandConnection::listGlobals()) {
            session.waylandAnswers = true;
            for (const auto& global : *globals)
                session.globals.push_back(global.interface);
        }
    }
    session.x11 = static_cast<bool>(platform::x11::XConnection());
    if (session.wayland) {
        platform::lnx::SystemInputDevices devices;
        session.uinput = platform::lnx::checkUinput(devices) == platform::lnx::UinputAccess::writable;
    }
    return session;
}

Backend Backend::choose(const Session& session) {
    Backend backend;
    if (session.wayland && session.waylandAnswers) {
        backend.compositor = compositorOf(session);
        const bool dataControl =
            offers(session, "ext_data_control_manager_v1") || offers(session, "zwlr_data_control_manager_v1");
        if (dataControl && offers(session, "zwlr_layer_shell_v1")) {
            backend.kind = Kind::waylandNative;
            backend.qtPlatform = "wayland";
            backend.mechanisms.keys = evdev;
            // Our own keymap first (layout-proof, no permission), then KWin's authorised fake input.
            backend.mechanisms.paste = offers(session, "zwp_virtual_keyboard_manager_v1") ? virtualKeyboard
                                       : offers(session, "org_kde_kwin_fake_input")       ? fakeInput
                                       : session.uinput                                   ? uinput
                                                                                          : portal;
            backend.mechanisms.clipboard =
                offers(session, "ext_data_control_manager_v1") ? "ext-data-control" : "wlr-data-control";
            backend.mechanisms.pill = "layer-shell";
            return backend;
        }
        if (session.x11) {
            // GNOME: Mutter bridges the X selection both ways and places override-redirect windows.
            backend.kind = Kind::waylandHybrid;
            backend.qtPlatform = "xcb";
            // XInput and XTest would reach XWayland's windows only: keys go through the kernel.
            backend.mechanisms.keys = evdev;
            backend.mechanisms.paste = session.uinput ? uinput : portal;
            backend.mechanisms.clipboard = "X11 через XWayland";
            backend.mechanisms.pill = "окно X11 через XWayland";
        }
        return backend;
    }
    if (session.x11) {
        backend.kind = Kind::x11;
        backend.qtPlatform = "xcb";
        backend.mechanisms = {"XInput", "XTest", "X11", "окно X11"};
    }
    return backend;
}

platform::Desktop Backend::makeDesktop(core::MainQueue& main) const {
    platform::Desktop desktop;
    desktop.description = description();
    desktop.secretStore = std::make_shared<platform::lnx::LibsecretStore>();
    desktop.microphone = [] { return std::make_unique<platform::lnx::PulseAudioSource>(); };
    desktop.microphoneState = [] { return platform::lnx::PulseAudioSource::microphoneState(); };

    if (kind == Kind::waylandNative) {
        waylandKeys(*this, main, desktop);
        auto clipboard = std::make_unique<platform::wayland::DataControlClipboard>(main);
        clipboard->localContents = qtOwnContents;
        desktop.clipboard = std::move(clipboard);
        std::function<std::optional<platform::WindowIdentity>()> compositorFocus;
        if (!environment("SWAYSOCK").empty())
            compositorFocus = [] { return platform::wayland::swayFocusedWindow(); };
        desktop.focusedWindow = std::make_unique<platform::lnx::AtspiFocusedWindow>(compositorFocus);
        desktop.caretProbe = caretProbeFor(*desktop.focusedWindow);
        desktop.pillSurface = std::make_unique<platform::wayland::LayerShellPill>(main);
        return desktop;
    }

    if (kind == Kind::waylandHybrid) {
        waylandKeys(*this, main, desktop);
    } else {
        desktop.keyMonitor = std::make_unique<platform::x11::XInputKeyMonitor>(main);
        desktop.keySender = std::make_unique<platform::x11::XTestKeySender>(main);
        desktop.trust = std::make_unique<platform::x11::X11Trust>();
    }
    desktop.clipboard = std::make_unique<platform::qt::QtClipboard>();
    auto x11Focus = std::make_unique<platform::x11::X11FocusedWindow>();
    if (kind == Kind::waylandHybrid) {
        // The X server sees only XWayland windows; the accessibility bus sees native ones too.
        desktop.focusedWindow = std::make_unique<platform::lnx::AtspiFocusedWindow>(
            [window = std::shared_ptr<platform::x11::X11FocusedWindow>(std::move(x11Focus))] {
                return window->identify();
            });
    } else {
        desktop.focusedWindow = std::move(x11Focus);
    }
    desktop.caretProbe = caretProbeFor(*desktop.focusedWindow);
    desktop.translucency = [connection = std::make_shared<platform::x11::XConnection>()] {
        return connection->compositing();
    };
    return desktop;
}

} // namespace app
