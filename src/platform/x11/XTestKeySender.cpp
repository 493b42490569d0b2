#include "platform/x11/XTestKeySender.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <thread>
#include <vector>

namespace platform::x11 {

namespace {

// Keycodes of the evdev keyboard model, for a layout that lacks the key's Latin symbol.
constexpr KeyCode evdevControlL = 37;
constexpr KeyCode evdevShiftL = 50;
constexpr KeyCode evdevV = 55;
constexpr KeyCode evdevInsert = 118;

KeyCode keycodeOf(Display* display, KeySym symbol, KeyCode fallback) {
    KeyCode code = XKeysymToKeycode(display, symbol);
    return code != 0 ? code : fallback;
}

} // namespace

struct XTestKeySender::Connection {
    Display* display = nullptr;
    std::vector<KeyCode> modifierKeys;

    Connection() {
        display = XOpenDisplay(nullptr);
        if (display == nullptr) {
            return;
        }
        int event = 0, error = 0, major = 0, minor = 0;
        if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
            XCloseDisplay(display);
            display = nullptr;
        }
    }
    ~Connection() {
        if (display != nullptr) {
            XCloseDisplay(display);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Read at every send: the user may change the keyboard mapping while the program runs.
    void readModifierKeys() {
        modifierKeys.clear();
        XModifierKeymap* map = XGetModifierMapping(display);
        if (map == nullptr) {
            return;
        }
        for (int i = 0; i < 8 * map->max_keypermod; ++i) {
            if (map->modifiermap[i] != 0) {
                modifierKeys.push_back(map->modifiermap[i]);
            }
        }
        XFreeModifiermap(map);
    }

    bool modifierHeld() {
        char keys[32] = {};
        XQueryKeymap(display, keys);
        for (KeyCode code : modifierKeys) {
            if ((keys[code / 8] >> (code % 8)) & 1) {
                return true;
            }
        }
        return false;
    }

    bool waitForModifiersUp(double seconds) {
        readModifierKeys();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (modifierHeld()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    void press(const std::vector<KeyCode>& chord) {
        for (KeyCode code : chord) {
            XTestFakeKeyEvent(display, code, True, CurrentTime);
        }
        for (auto code = chord.rbegin(); code != chord.rend(); ++code) {
            XTestFakeKeyEvent(display, *code, False, CurrentTime);
        }
        XSync(display, False);
    }
};

XTestKeySender::XTestKeySender() : connection(std::make_unique<Connection>()) {}

XTestKeySender::~XTestKeySender() = default;

KeySender::Result XTestKeySender::sendPaste(PasteShortcut shortcut) {
    Display* display = connection->display;
    if (display == nullptr) {
        return Result::failed;
    }
    bool clean = connection->waitForModifiersUp(modifierWaitSeconds);

    KeyCode control = keycodeOf(display, XK_Control_L, evdevControlL);
    KeyCode shift = keycodeOf(display, XK_Shift_L, evdevShiftL);
    // The V key by its Latin symbol: with a Cyrillic group active, toolkits still take Ctrl with
    // this key as paste, as they do for the user's own Ctrl+V.
    KeyCode v = keycodeOf(display, XK_v, evdevV);
    switch (shortcut) {
    case PasteShortcut::controlV:
        connection->press({control, v});
        break;
    case PasteShortcut::controlShiftV:
        connection->press({control, shift, v});
        break;
    case PasteShortcut::shiftInsert:
        connection->press({shift, keycodeOf(display, XK_Insert, evdevInsert)});
        break;
    }
    return clean ? Result::sent : Result::sentWithModifier;
}

} // namespace platform::x11
