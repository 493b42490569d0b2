#include "platform/wayland/VirtualKeyboardKeySender.h"

#include "virtual-keyboard-unstable-v1-client.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace platform::wayland {

namespace {

std::uint32_t timestamp() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

struct KeymapText {
    std::string text;
    std::uint32_t control = 0;
    std::uint32_t shift = 0;
};

// A plain US keymap: the keys we send mean Control, Shift, V and Insert in it, whatever the user's
// own layout.
std::optional<KeymapText> usKeymap() {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                       &xkb_context_unref);
    if (!context) {
        return std::nullopt;
    }
    const xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS), &xkb_keymap_unref);
    if (!keymap) {
        return std::nullopt;
    }
    std::unique_ptr<char, decltype(&free)> text(xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1),
                                                &free);
    if (!text) {
        return std::nullopt;
    }
    const auto control = xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_CTRL);
    const auto shift = xkb_keymap_mod_get_index(keymap.get(), XKB_MOD_NAME_SHIFT);
    if (control == XKB_MOD_INVALID || shift == XKB_MOD_INVALID) {
        return std::nullopt;
    }
    return KeymapText{text.get(), 1u << control, 1u << shift};
}

} // namespace

VirtualKeyboardKeySender::VirtualKeyboardKeySender(core::MainQueue& main, HeldModifiers held)
    : WaylandKeySender(main, std::move(held)), connection(main) {
    ready = setUp();
}

VirtualKeyboardKeySender::~VirtualKeyboardKeySender() {
    if (keyboard != nullptr) {
        zwp_virtual_keyboard_v1_destroy(keyboard);
    }
    if (manager != nullptr) {
        zwp_virtual_keyboard_manager_v1_destroy(manager);
    }
    if (seat != nullptr) {
        wl_seat_destroy(seat);
    }
    connection.flush();
}

bool VirtualKeyboardKeySender::setUp() {
    manager =
        static_cast<zwp_virtual_keyboard_manager_v1*>(connection.bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
    seat = static_cast<wl_seat*>(connection.bind(&wl_seat_interface, 1));
    auto keymap = usKeymap();
    if (manager == nullptr || seat == nullptr || !keymap) {
        return false;
    }
    keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(manager, seat);
    controlMask = keymap->control;
    shiftMask = keymap->shift;

    // The compositor maps the keymap from a file; the terminating NUL is part of the format.
    const std::size_t size = keymap->text.size() + 1;
    int fd = memfd_create("ruvex-keymap", MFD_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool written = ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                   pwrite(fd, keymap->text.c_str(), size, 0) == static_cast<ssize_t>(size);
    if (written) {
        zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
    }
    close(fd);
    // Keys sent before the compositor has taken the keymap are lost.
    return written && connection.roundtrip();
}

bool VirtualKeyboardKeySender::usable() const {
    return ready && static_cast<bool>(connection);
}

bool VirtualKeyboardKeySender::key(unsigned code, bool pressed) {
    if (!usable()) {
        return false;
    }
    zwp_virtual_keyboard_v1_key(keyboard, timestamp(), code,
                                pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    // A virtual keyboard's modifier state is the client's to tell.
    const std::uint32_t mask = code == KEY_LEFTCTRL ? controlMask : code == KEY_LEFTSHIFT ? shiftMask : 0;
    if (mask != 0) {
        depressed = pressed ? depressed | mask : depressed & ~mask;
        zwp_virtual_keyboard_v1_modifiers(keyboard, depressed, 0, 0, 0);
    }
    return connection.flush();
}

bool VirtualKeyboardKeySender::settle() {
    return connection.roundtrip();
}

} // namespace platform::wayland
