#pragma once

#include "platform/KeySender.h"
#include "platform/wayland/WaylandConnection.h"

#include <optional>

struct wl_keyboard;
struct wl_seat;

namespace platform::wayland {

/// The compositor's keyboard layouts, as its keymap for the seat's keyboard tells them (sent to every
/// client, focused or not, and again when the user changes them). Senders whose key codes are read
/// in those layouts need to know whether Ctrl+V can be typed at all. Main thread.
class SeatKeymap {
public:
    /// Listens on `connection`, which must outlive it; the keymap arrives with the next events.
    explicit SeatKeymap(WaylandConnection& connection);
    ~SeatKeymap();
    SeatKeymap(const SeatKeymap&) = delete;
    SeatKeymap& operator=(const SeatKeymap&) = delete;

    /// Whether any of the layouts puts a Latin v on the V key (toolkits then find Ctrl+V through
    /// it, whichever layout is active); nothing before the compositor has sent a keymap.
    std::optional<bool> latinV() const { return hasLatinV; }

    /// The same question on a connection of its own, for senders that have none (uinput, the portal):
    /// the function keeps the connection; unset when no compositor answers.
    static LatinV watch(core::MainQueue& main);

private:
    static void onCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
    static void onKeymap(void* data, wl_keyboard* keyboard, std::uint32_t format, int fd, std::uint32_t size);

    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    std::optional<bool> hasLatinV;
};

} // namespace platform::wayland
