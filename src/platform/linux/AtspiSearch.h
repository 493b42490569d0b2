#pragma once

// What the accessibility-bus readers share: owned libatspi objects, a call's error, and a bounded
// depth-first search for the active window and the focused object. Internal to platform/linux.

#include <atspi/atspi.h>

#include <chrono>
#include <memory>

namespace platform::lnx::atspi {

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
inline constexpr int maximumDepth = 40;
inline constexpr int maximumChildren = 400;
inline constexpr int maximumVisits = 2000;

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

    // The application's active window, if it has one.
    Accessible activeWindow(AtspiAccessible* application) {
        int windows = childCount(application);
        for (int i = 0; i < windows && !expired(); ++i) {
            auto window = child(application, i);
            if (window && has(window.get(), ATSPI_STATE_ACTIVE)) {
                return window;
            }
        }
        return nullptr;
    }

    // The focused object inside the application's active window.
    Accessible focusedIn(AtspiAccessible* application) {
        auto window = activeWindow(application);
        return window ? focusedBelow(window.get(), 0) : nullptr;
    }

private:
    std::chrono::steady_clock::time_point deadline;
    int visits = 0;
};

inline bool connect(int timeoutMilliseconds) {
    // Once per process: the library keeps its bus connection for the whole run.
    static const bool connected = [timeoutMilliseconds] {
        int status = atspi_init();
        if (status != 0 && status != 1) {
            return false;
        }
        atspi_set_timeout(timeoutMilliseconds, timeoutMilliseconds);
        return true;
    }();
    return connected;
}

} // namespace platform::lnx::atspi
