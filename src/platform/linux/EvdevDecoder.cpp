#include "platform/linux/EvdevDecoder.h"

#include <linux/input.h>

#include <array>

namespace platform::lnx {

namespace {

constexpr std::array<unsigned, 8> modifierCodes = {
    KEY_LEFTCTRL, KEY_RIGHTCTRL, KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTALT, KEY_RIGHTALT, KEY_LEFTMETA, KEY_RIGHTMETA,
};

// Linux input codes are X keycodes minus 8.
constexpr unsigned xKeycodeOffset = 8;

} // namespace

static_assert(EvdevDecoder::KeyState().size() == KEY_CNT);

bool EvdevDecoder::isTrigger(unsigned code) {
    return code == KEY_RIGHTALT || code == KEY_RIGHTMETA;
}

bool EvdevDecoder::isModifier(unsigned code) {
    for (unsigned modifier : modifierCodes) {
        if (code == modifier)
            return true;
    }
    return false;
}

bool EvdevDecoder::isKey(unsigned code) {
    if (code == KEY_RESERVED || code >= KEY_CNT)
        return false;
    if (code >= BTN_MISC && code < KEY_OK)
        return false;
    if (code >= BTN_DPAD_UP && code <= BTN_DPAD_RIGHT)
        return false;
    return code < BTN_TRIGGER_HAPPY;
}

KeyEvent EvdevDecoder::reduce(unsigned code, bool pressed) {
    return KeyEvent{isTrigger(code) ? code + xKeycodeOffset : 0u, pressed, isModifier(code)};
}

void EvdevDecoder::feed(const input_event& event, std::vector<KeyEvent>& out) {
    if (event.type == EV_SYN) {
        if (event.code == SYN_DROPPED) {
            dropping = true;
        } else if (event.code == SYN_REPORT && dropping) {
            dropping = false;
            resyncPending = true;
        }
        return;
    }
    // Between SYN_DROPPED and the end of its report the records are incomplete: the real state
    // is read afterwards instead.
    if (dropping || resyncPending || event.type != EV_KEY || !isKey(event.code))
        return;
    // Value 2 is auto-repeat; a press of a key already down is one too.
    if (event.value == 2 || (event.value == 1 && held.test(event.code)))
        return;
    change(event.code, event.value != 0, out);
}

void EvdevDecoder::change(unsigned code, bool pressed, std::vector<KeyEvent>& out) {
    held.set(code, pressed);
    out.push_back(reduce(code, pressed));
}

void EvdevDecoder::resync(const KeyState& real, std::vector<KeyEvent>& out) {
    resyncPending = false;
    dropping = false;
    const KeyState released = held & ~real;
    const KeyState pressed = real & ~held;
    for (unsigned code : {unsigned(KEY_RIGHTALT), unsigned(KEY_RIGHTMETA)}) {
        if (released.test(code))
            change(code, false, out);
    }
    for (unsigned code = 0; code < released.size(); ++code) {
        if (released.test(code) && !isTrigger(code))
            change(code, false, out);
    }
    for (unsigned code = 0; code < pressed.size(); ++code) {
        if (pressed.test(code) && isKey(code))
            change(code, true, out);
    }
}

void EvdevDecoder::assume(const KeyState& real) {
    held.reset();
    for (unsigned code = 0; code < real.size(); ++code) {
        if (real.test(code) && isKey(code))
            held.set(code);
    }
}

void EvdevDecoder::vanish(std::vector<KeyEvent>& out) {
    resync(KeyState(), out);
}

int EvdevDecoder::heldModifiers() const {
    int count = 0;
    for (unsigned modifier : modifierCodes)
        count += held.test(modifier) ? 1 : 0;
    return count;
}

} // namespace platform::lnx
