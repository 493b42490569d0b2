#include "platform/wayland/WaylandConnection.h"

#include <wayland-client.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>

namespace platform::wayland {

// What the posted dispatches reach: they hold it weakly and do nothing once the connection is gone.
struct WaylandConnection::Shared {
    wl_display* display = nullptr;

    // Main thread: runs the events the reader has queued, and sends what their listeners asked for.
    void dispatch() const {
        if (display != nullptr && wl_display_get_error(display) == 0) {
            wl_display_dispatch_pending(display);
            wl_display_flush(display);
        }
    }
};

namespace {

void addGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version) {
    static_cast<std::vector<Global>*>(data)->push_back({name, interface, version});
}

void removeGlobal(void* data, wl_registry*, std::uint32_t name) {
    auto& globals = *static_cast<std::vector<Global>*>(data);
    std::erase_if(globals, [name](const Global& global) { return global.name == name; });
}

const wl_registry_listener registryListener = {addGlobal, removeGlobal};

wl_display* connectToCompositor() {
    // Without WAYLAND_DISPLAY libwayland would try "wayland-0", which may be someone else's session.
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0') {
        return nullptr;
    }
    return wl_display_connect(nullptr);
}

// The reader thread: waits for the socket, reads into the event queues and has the main thread run
// them. It prepares its reads on a queue of its own that never holds events, so a read can start
// while events already read still wait for the main thread.
void readEvents(wl_display* display, int wake, core::MainQueue& main, const std::function<void()>& dispatch) {
    wl_event_queue* idle = wl_display_create_queue(display);
    for (;;) {
        while (wl_display_prepare_read_queue(display, idle) != 0) {
            wl_display_dispatch_queue_pending(display, idle);
        }
        // Requests the main thread could not send at once (a full socket) go out as soon as they can.
        const bool pending = wl_display_flush(display) < 0 && errno == EAGAIN;
        pollfd fds[2] = {{wl_display_get_fd(display), static_cast<short>(POLLIN | (pending ? POLLOUT : 0)), 0},
                         {wake, POLLIN, 0}};
        int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) {
            wl_display_cancel_read(display);
            continue;
        }
        if (ready < 0 || (fds[1].revents & POLLIN) != 0) {
            wl_display_cancel_read(display);
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const bool read = wl_display_read_events(display) == 0;
            // Also after a failed read: the main thread then sees the error on its next call.
            main.post(dispatch);
            if (!read) {
                break;
            }
        } else {
            wl_display_cancel_read(display);
            if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                break;
            }
        }
    }
    wl_event_queue_destroy(idle);
}

} // namespace

WaylandConnection::WaylandConnection(core::MainQueue& main) : main(main), shared(std::make_shared<Shared>()) {
    shared->display = connectToCompositor();
    if (shared->display == nullptr) {
        return;
    }
    registry = wl_display_get_registry(shared->display);
    wl_registry_add_listener(registry, &registryListener, &announced);
    if (wl_display_roundtrip(shared->display) < 0) {
        return;
    }
    wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        return;
    }
    std::function<void()> dispatch = [weak = std::weak_ptr<Shared>(shared)] {
        if (auto alive = weak.lock()) {
            alive->dispatch();
        }
    };
    reader = std::thread(readEvents, shared->display, wake, std::ref(main), std::move(dispatch));
}

WaylandConnection::~WaylandConnection() {
    if (reader.joinable()) {
        const std::uint64_t one = 1;
        (void)!write(wake, &one, sizeof one);
        reader.join();
    }
    if (wake >= 0) {
        close(wake);
    }
    if (registry != nullptr) {
        wl_registry_destroy(registry);
    }
    if (shared->display != nullptr) {
        wl_display_disconnect(shared->display);
        shared->display = nullptr;
    }
}

WaylandConnection::operator bool() const {
    return shared->display != nullptr && reader.joinable() && wl_display_get_error(shared->display) == 0;
}

wl_display* WaylandConnection::display() const {
    return shared->display;
}

std::optional<Global> WaylandConnection::find(std::string_view interface) const {
    auto found = std::find_if(announced.begin(), announced.end(),
                              [&](const Global& global) { return global.interface == interface; });
    return found == announced.end() ? std::nullopt : std::optional(*found);
}

void* WaylandConnection::bind(const wl_interface* interface, std::uint32_t version) {
    if (!*this) {
        return nullptr;
    }
    auto global = find(interface->name);
    return global ? bind(*global, interface, version) : nullptr;
}

void* WaylandConnection::bind(const Global& global, const wl_interface* interface, std::uint32_t version) {
    if (!*this) {
        return nullptr;
    }
    return wl_registry_bind(registry, global.name, interface, std::min(version, global.version));
}

bool WaylandConnection::flush() {
    if (!*this) {
        return false;
    }
    // A full socket buffer (EAGAIN) is sent by the reader thread before it waits again.
    return wl_display_flush(shared->display) >= 0 || errno == EAGAIN;
}

bool WaylandConnection::roundtrip() {
    return *this && wl_display_roundtrip(shared->display) >= 0;
}

std::optional<std::vector<Global>> WaylandConnection::listGlobals() {
    wl_display* display = connectToCompositor();
    if (display == nullptr) {
        return std::nullopt;
    }
    std::vector<Global> globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answered ? std::optional(std::move(globals)) : std::nullopt;
}

} // namespace platform::wayland
