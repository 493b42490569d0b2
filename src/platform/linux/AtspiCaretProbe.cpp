#include "platform/linux/AtspiCaretProbe.h"

#include "core/Unicode.h"

#include <atspi/atspi.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace platform::lnx {

namespace {

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Accessible = std::unique_ptr<AtspiAccessible, Unref>;
using Text = std::unique_ptr<AtspiText, Unref>;
using States = std::unique_ptr<AtspiStateSet, Unref>;

// A place for a call's error that is cleared on every path; a set error means "no answer".
class Error {
public:
    Error() = default;
    ~Error() { g_clear_error(&error); }
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;
    GError** out() {
        g_clear_error(&error);
        return &error;
    }
    bool failed() const { return error != nullptr; }

private:
    GError* error = nullptr;
};

// Bounds for the depth-first search: real text fields sit a dozen levels down at most, and huge
// containers (tables, long lists) never hold the focused field of a form worth the time.
constexpr int maximumDepth = 40;
constexpr int maximumChildren = 400;
constexpr int maximumVisits = 2000;

class Search {
public:
    explicit Search(double seconds)
        : deadline(std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                          std::chrono::duration<double>(seconds))) {}

    bool expired() const { return std::chrono::steady_clock::now() >= deadline || visits >= maximumVisits; }

    static bool has(AtspiAccessible* object, AtspiStateType state) {
        States states(atspi_accessible_get_state_set(object));
        return states && atspi_state_set_contains(states.get(), state);
    }

    int childCount(AtspiAccessible* object) {
        Error error;
        int count = atspi_accessible_get_child_count(object, error.out());
        return error.failed() ? 0 : count;
    }

    Accessible child(AtspiAccessible* object, int index) {
        Error error;
        Accessible found(atspi_accessible_get_child_at_index(object, index, error.out()));
        return error.failed() ? nullptr : std::move(found);
    }

    Accessible focusedBelow(AtspiAccessible* object, int depth) {
        ++visits;
        if (has(object, ATSPI_STATE_FOCUSED)) {
            return Accessible(static_cast<AtspiAccessible*>(g_object_ref(object)));
        }
        int count = childCount(object);
        if (depth >= maximumDepth || count > maximumChildren) {
            return nullptr;
        }
        for (int i = 0; i < count && !expired(); ++i) {
            if (auto node = child(object, i)) {
                if (auto found = focusedBelow(node.get(), depth + 1)) {
                    return found;
                }
            }
        }
        return nullptr;
    }

    // The focused object inside the application's active window.
    Accessible focusedIn(AtspiAccessible* application) {
        int windows = childCount(application);
        for (int i = 0; i < windows && !expired(); ++i) {
            auto window = child(application, i);
            if (window && has(window.get(), ATSPI_STATE_ACTIVE)) {
                return focusedBelow(window.get(), 0);
            }
        }
        return nullptr;
    }

private:
    std::chrono::steady_clock::time_point deadline;
    int visits = 0;
};

bool connect() {
    // Once per process: the library keeps its bus connection for the whole run.
    static const bool connected = [] {
        int status = atspi_init();
        if (status != 0 && status != 1) {
            return false;
        }
        atspi_set_timeout(AtspiCaretProbe::callTimeoutMilliseconds, AtspiCaretProbe::callTimeoutMilliseconds);
        return true;
    }();
    return connected;
}

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
    if (!connect()) {
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
