#include "platform/wayland/SeatKeymap.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace platform::wayland {

namespace {

// The X keycode of a Linux input code.
constexpr xkb_keycode_t keycodeV = KEY_V + 8;

void enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void modifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void repeat(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

std::optional<bool> latinVIn(const char* text) {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                       &xkb_context_unref);
    if (!context) {
        return std::nullopt;
    }
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_string(context.get(), text, XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    if (!keymap) {
        return std::nullopt;
    }
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap.get(), keycodeV);
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        const xkb_keysym_t* symbols = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap.get(), keycodeV, layout, 0, &symbols);
        for (int i = 0; i < count; ++i) {
            if (symbols[i] == XKB_KEY_v) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

SeatKeymap::SeatKeymap(WaylandConnection& connection) {
    seat = static_cast<wl_seat*>(connection.bind(&wl_seat_interface, 5));
    if (seat == nullptr) {
        return;
    }
    // The keyboard only once the seat has one: asking a seat without it is an error (Mutter crashes).
    static const wl_seat_listener listener = {onCapabilities, [](void*, wl_seat*, const char*) {}};
    wl_seat_add_listener(seat, &listener, this);
    connection.flush();
}

void SeatKeymap::onCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
    auto* self = static_cast<SeatKeymap*>(data);
    const bool has = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    if (has && self->keyboard == nullptr) {
        // Only the keymap matters here; what the keyboard types goes to the focused window, never to us.
        static const wl_keyboard_listener listener = {onKeymap, enter, leave, key, modifiers, repeat};
        self->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(self->keyboard, &listener, self);
    } else if (!has && self->keyboard != nullptr) {
        wl_keyboard_destroy(self->keyboard);
        self->keyboard = nullptr;
    }
}

SeatKeymap::~SeatKeymap() {
    if (keyboard != nullptr) {
        wl_keyboard_destroy(keyboard);
    }
    if (seat != nullptr) {
        wl_seat_destroy(seat);
    }
}

LatinV SeatKeymap::watch(core::MainQueue& main) {
    struct Watch {
        explicit Watch(core::MainQueue& main) : connection(main), keymap(connection) {}
        WaylandConnection connection;
        SeatKeymap keymap;
    };
    auto watch = std::make_shared<Watch>(main);
    if (!watch->connection) {
        return {};
    }
    // The seat's capabilities, then the keyboard's keymap.
    watch->connection.roundtrip();
    watch->connection.roundtrip();
    return [watch] { return watch->keymap.latinV(); };
}

void SeatKeymap::onKeymap(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
    auto* self = static_cast<SeatKeymap*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            self->hasLatinV = latinVIn(static_cast<const char*>(text));
            munmap(text, size);
        }
    }
    close(fd);
}

} // namespace platform::wayland
