#pragma once

#include "core/MainQueue.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct wl_display;
struct wl_interface;
struct wl_registry;

namespace platform::wayland {

/// One global object the compositor announces (an interface it offers, with its highest version).
struct Global {
    std::uint32_t name = 0;
    std::string interface;
    std::uint32_t version = 0;
};

/// A connection of our own to the compositor named by WAYLAND_DISPLAY, closed with the object. Each
/// Wayland backend object owns one, so that none depends on Qt's connection or on another's state.
///
/// Threads: every request is made and every event is handled on the main thread. A reader thread of
/// the connection's own waits on the socket and reads what arrives into the event queue, then posts
/// the dispatch to the main queue, so listeners run there, after the work posted before. The main
/// thread may also wait for the compositor itself (`roundtrip`): libwayland lets the two readers take
/// turns on the socket. The reader touches nothing but libwayland's own locked state.
class WaylandConnection {
public:
    /// Connects, lists the globals (one roundtrip) and starts the reader; without a compositor the
    /// object is empty (false). `main` must outlive the connection.
    explicit WaylandConnection(core::MainQueue& main);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    /// True while connected and the compositor has reported no error.
    explicit operator bool() const;
    wl_display* display() const;

    const std::vector<Global>& globals() const { return announced; }
    /// The first global of `interface`, if the compositor offers one.
    std::optional<Global> find(std::string_view interface) const;
    /// Binds the first global of `interface` at the lower of `version` and the offered version;
    /// nullptr when absent. Main thread; cast the result to the interface's proxy type.
    void* bind(const wl_interface* interface, std::uint32_t version);
    /// Binds `global` (one of globals()) likewise.
    void* bind(const Global& global, const wl_interface* interface, std::uint32_t version);

    /// Sends the requests made so far. False when the connection is broken.
    bool flush();
    /// Sends the requests made so far and waits until the compositor has handled them, running every
    /// event that arrives meanwhile. False when the connection is broken. Main thread.
    bool roundtrip();

    /// The globals of the compositor named by WAYLAND_DISPLAY, read on a short-lived connection (no
    /// reader thread, no main queue); nothing when no compositor answers.
    static std::optional<std::vector<Global>> listGlobals();

private:
    struct Shared;

    core::MainQueue& main;
    std::shared_ptr<Shared> shared;
    wl_registry* registry = nullptr;
    std::vector<Global> announced;
    int wake = -1; // eventfd that ends the reader's wait
    std::thread reader;
};

} // namespace platform::wayland
