#include "platform/linux/AtspiCaretProbe.h"

#include "core/Unicode.h"
#include "platform/linux/AtspiSearch.h"

#include <atspi/atspi.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace platform::lnx {

namespace {

using namespace atspi;

std::optional<std::string> characterBefore(AtspiAccessible* focused) {
    Text text(atspi_accessible_get_text_iface(focused));
    if (!text) {
        return std::nullopt;
    }
    Error error;
    int position = 0;
    int selections = atspi_text_get_n_selections(text.get(), error.out());
    if (error.failed()) {
        return std::nullopt;
    }
    if (selections > 0) {
        AtspiRange* range = atspi_text_get_selection(text.get(), 0, error.out());
        if (error.failed() || range == nullptr) {
            g_free(range);
            return std::nullopt;
        }
        position = std::min(range->start_offset, range->end_offset);
        g_free(range);
    } else {
        position = atspi_text_get_caret_offset(text.get(), error.out());
        if (error.failed()) {
            return std::nullopt;
        }
    }
    if (position < 0) {
        return std::nullopt;
    }
    if (position == 0) {
        return std::string();
    }
    // GTK counts offsets in code points, Qt in UTF-16 units: two units back always hold the whole
    // last code point, and for Qt one unit back could be half of a surrogate pair.
    gchar* before = atspi_text_get_text(text.get(), std::max(0, position - 2), position, error.out());
    std::unique_ptr<gchar, decltype(&g_free)> owned(before, &g_free);
    if (error.failed() || before == nullptr || *before == '\0') {
        return std::nullopt;
    }
    return std::string(core::unicode::lastCharacter(before));
}

} // namespace

AtspiCaretProbe::AtspiCaretProbe(std::function<std::optional<int>()> activeProcess)
    : activeProcess(std::move(activeProcess)) {}

std::optional<std::string> AtspiCaretProbe::characterBeforeCaret() {
    if (!connect(callTimeoutMilliseconds)) {
        return std::nullopt;
    }
    Search search(budgetSeconds);
    Accessible desktop(atspi_get_desktop(0));
    if (!desktop) {
        return std::nullopt;
    }
    // Nothing runs the library's event handling between two calls, so cached states and the list
    // of applications may be stale: ask afresh every time.
    atspi_accessible_clear_cache(desktop.get());

    std::optional<int> owner = activeProcess ? activeProcess() : std::nullopt;
    const auto self = static_cast<guint>(getpid());
    int applications = search.childCount(desktop.get());
    // First the application that owns the active window; when none matches (no process id, or one
    // the bus does not see), every application but this program, which cannot answer while it asks.
    for (bool narrowed : {true, false}) {
        if (narrowed && !owner) {
            continue;
        }
        bool matched = false;
        for (int i = 0; i < applications && !search.expired(); ++i) {
            auto application = search.child(desktop.get(), i);
            if (!application) {
                continue;
            }
            Error error;
            guint pid = atspi_accessible_get_process_id(application.get(), error.out());
            if (error.failed() || pid == self || (narrowed && pid != static_cast<guint>(*owner))) {
                continue;
            }
            matched = true;
            if (auto focused = search.focusedIn(application.get())) {
                return characterBefore(focused.get());
            }
        }
        if (matched) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace platform::lnx
