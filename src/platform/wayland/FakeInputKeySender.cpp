#include "platform/wayland/FakeInputKeySender.h"

#include "fake-input-client.h"

#include <wayland-client.h>

namespace platform::wayland {

namespace {

// Keyboard keys came with version 4.
constexpr std::uint32_t keyboardVersion = 4;

} // namespace

FakeInputKeySender::FakeInputKeySender(core::MainQueue& main, HeldModifiers held)
    : WaylandKeySender(main, std::move(held)), connection(main) {
    auto global = connection.find(org_kde_kwin_fake_input_interface.name);
    if (!global || global->version < keyboardVersion) {
        return;
    }
    input = static_cast<org_kde_kwin_fake_input*>(connection.bind(&org_kde_kwin_fake_input_interface, keyboardVersion));
    if (input != nullptr) {
        org_kde_kwin_fake_input_authenticate(input, "Ruvex Voice", "Вставка продиктованного текста");
        keymap = std::make_unique<SeatKeymap>(connection);
        // The seat's capabilities, then the keyboard's keymap.
        connection.roundtrip();
        connection.roundtrip();
    }
}

PasteShortcut FakeInputKeySender::reachable(PasteShortcut wanted) {
    return reachableIn(wanted, [this] { return keymap ? keymap->latinV() : std::nullopt; });
}

FakeInputKeySender::~FakeInputKeySender() {
    keymap.reset();
    if (input != nullptr) {
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(input));
    }
    connection.flush();
}

bool FakeInputKeySender::usable() const {
    return input != nullptr && static_cast<bool>(connection);
}

bool FakeInputKeySender::key(unsigned code, bool pressed) {
    if (!usable()) {
        return false;
    }
    org_kde_kwin_fake_input_keyboard_key(input, code,
                                         pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    return connection.flush();
}

bool FakeInputKeySender::settle() {
    return connection.roundtrip();
}

} // namespace platform::wayland
