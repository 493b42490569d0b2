#include "platform/x11/XConnection.h"

#include <X11/Xlib.h>

#include <string>
#include <utility>

namespace platform::x11 {

XConnection::XConnection() : handle(XOpenDisplay(nullptr)) {}

XConnection::~XConnection() {
    close();
}

void XConnection::close() {
    if (handle != nullptr)
        XCloseDisplay(std::exchange(handle, nullptr));
}

XConnection::XConnection(XConnection&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}

XConnection& XConnection::operator=(XConnection&& other) noexcept {
    if (this != &other) {
        close();
        handle = std::exchange(other.handle, nullptr);
    }
    return *this;
}

std::bitset<256> XConnection::modifierKeycodes() const {
    std::bitset<256> keycodes;
    XModifierKeymap* map = handle != nullptr ? XGetModifierMapping(handle) : nullptr;
    if (map == nullptr)
        return keycodes;
    for (int i = 0; i < 8 * map->max_keypermod; ++i) {
        if (map->modifiermap[i] != 0)
            keycodes.set(map->modifiermap[i]);
    }
    XFreeModifiermap(map);
    return keycodes;
}

bool XConnection::compositing() const {
    if (handle == nullptr)
        return false;
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(handle));
    return XGetSelectionOwner(handle, XInternAtom(handle, name.c_str(), False)) != None;
}

} // namespace platform::x11
