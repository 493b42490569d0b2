#include "platform/x11/XTestKeySender.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

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

XTestKeySender::XTestKeySender(core::MainQueue& main) : main(main) {
    int event = 0, error = 0, major = 0, minor = 0;
    if (connection && !XTestQueryExtension(connection.display(), &event, &error, &major, &minor))
        connection.close();
}

void XTestKeySender::sendPaste(PasteShortcut shortcut, std::function<void(Result)> done) {
    if (!connection) {
        main.post([done = std::move(done)] { done(Result::failed); });
        return;
    }
    // Read at every send: the user may change the keyboard mapping while the program runs.
    modifiers = connection.modifierKeycodes();
    main.post([this, weak = std::weak_ptr<char>(alive), shortcut, deadline = clock.now() + modifierWaitSeconds,
               done = std::move(done)]() mutable {
        if (!weak.expired())
            sendWhenFree(shortcut, deadline, std::move(done));
    });
}

void XTestKeySender::sendWhenFree(PasteShortcut shortcut, double deadline, std::function<void(Result)> done) {
    const bool held = modifierHeld();
    if (held && clock.now() < deadline) {
        main.postAfter(0.01,
                       [this, weak = std::weak_ptr<char>(alive), shortcut, deadline, done = std::move(done)]() mutable {
                           if (!weak.expired())
                               sendWhenFree(shortcut, deadline, std::move(done));
                       });
        return;
    }
    press(shortcut);
    done(held ? Result::sentWithModifier : Result::sent);
}

bool XTestKeySender::modifierHeld() const {
    char keys[32] = {};
    XQueryKeymap(connection.display(), keys);
    for (unsigned code = 0; code < modifiers.size(); ++code) {
        if (modifiers.test(code) && ((keys[code / 8] >> (code % 8)) & 1))
            return true;
    }
    return false;
}

void XTestKeySender::press(PasteShortcut shortcut) {
    Display* display = connection.display();
    const KeyCode control = keycodeOf(display, XK_Control_L, evdevControlL);
    const KeyCode shift = keycodeOf(display, XK_Shift_L, evdevShiftL);
    // The V key by its Latin symbol: with a Cyrillic group active, toolkits still take Ctrl with
    // this key as paste, as they do for the user's own Ctrl+V.
    const KeyCode v = keycodeOf(display, XK_v, evdevV);
    std::vector<KeyCode> chord;
    switch (shortcut) {
    case PasteShortcut::controlV:
        chord = {control, v};
        break;
    case PasteShortcut::controlShiftV:
        chord = {control, shift, v};
        break;
    case PasteShortcut::shiftInsert:
        chord = {shift, keycodeOf(display, XK_Insert, evdevInsert)};
        break;
    }
    for (KeyCode code : chord)
        XTestFakeKeyEvent(display, code, True, CurrentTime);
    for (auto code = chord.rbegin(); code != chord.rend(); ++code)
        XTestFakeKeyEvent(display, *code, False, CurrentTime);
    XSync(display, False);
}

} // namespace platform::x11
