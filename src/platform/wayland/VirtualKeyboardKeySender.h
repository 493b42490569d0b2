#pragma once

#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandKeySender.h"

#include <cstdint>

struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct wl_seat;

namespace platform::wayland {

/// Sends the paste keys through the compositor's virtual-keyboard protocol (wlroots compositors:
/// sway, Hyprland, labwc…), which needs no permission. The keyboard carries a keymap of our own (US
/// layout), so Ctrl+V means paste whatever layout the user has active. One keyboard for the whole
/// run, set up before the first key: a keyboard's first key is lost when it comes right after the
/// keymap.
class VirtualKeyboardKeySender final : public WaylandKeySender {
public:
    /// Connects to the compositor and sets the keyboard up; `held` counts the user's held
    /// modifiers. `main` must outlive the sender.
    VirtualKeyboardKeySender(core::MainQueue& main, HeldModifiers held);
    ~VirtualKeyboardKeySender() override;

    /// True when the compositor offers the protocol and the keyboard has its keymap.
    bool usable() const override;

protected:
    bool key(unsigned code, bool pressed) override;
    bool settle() override;

private:
    bool setUp();

    WaylandConnection connection;
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    std::uint32_t controlMask = 0;
    std::uint32_t shiftMask = 0;
    std::uint32_t depressed = 0;
    bool ready = false;
};

} // namespace platform::wayland
