#include "platform/linux/AtspiFocusedWindow.h"

#include "platform/linux/AtspiCaretProbe.h"
#include "platform/linux/AtspiSearch.h"

#include <unistd.h>

#include <memory>
#include <string>

namespace platform::lnx {

AtspiFocusedWindow::AtspiFocusedWindow(std::function<std::optional<WindowIdentity>()> fallback)
    : fallback(std::move(fallback)) {}

std::optional<WindowIdentity> AtspiFocusedWindow::identify() {
    if (auto window = fromAccessibility()) {
        return window;
    }
    return fallback ? fallback() : std::nullopt;
}

std::optional<WindowIdentity> AtspiFocusedWindow::fromAccessibility() {
    using namespace atspi;
    if (!connect(AtspiCaretProbe::callTimeoutMilliseconds)) {
        return std::nullopt;
    }
    Search search(AtspiCaretProbe::budgetSeconds);
    Accessible desktop(atspi_get_desktop(0));
    if (!desktop) {
        return std::nullopt;
    }
    atspi_accessible_clear_cache(desktop.get());
    const auto self = static_cast<guint>(getpid());
    const int applications = search.childCount(desktop.get());
    for (int i = 0; i < applications && !search.expired(); ++i) {
        auto application = search.child(desktop.get(), i);
        if (!application) {
            continue;
        }
        Error error;
        const guint pid = atspi_accessible_get_process_id(application.get(), error.out());
        if (error.failed() || pid == self) {
            continue;
        }
        auto window = search.activeWindow(application.get());
        if (!window) {
            continue;
        }
        WindowIdentity identity;
        std::unique_ptr<gchar, decltype(&g_free)> name(atspi_accessible_get_name(application.get(), error.out()),
                                                       &g_free);
        if (!error.failed() && name) {
            identity.instance = name.get();
            identity.className = name.get();
        }
        identity.processId = static_cast<int>(pid);
        if (auto focused = search.focusedBelow(window.get(), 0)) {
            identity.terminal =
                atspi_accessible_get_role(focused.get(), error.out()) == ATSPI_ROLE_TERMINAL && !error.failed();
        }
        return identity;
    }
    return std::nullopt;
}

} // namespace platform::lnx
