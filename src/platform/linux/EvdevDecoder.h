#pragma once

#include "platform/KeyMonitor.h"

#include <bitset>
#include <vector>

struct input_event;

namespace platform::lnx {

/// Turns one input device's event records into the key events the hotkey needs, and no more: the
/// two trigger keys (right Alt, right Super) keep their code, as X keycodes (code + 8); every other
/// key leaves as keycode 0 with only "pressed" and "is a modifier" kept, which is enough to break a
/// hold and never enough to tell what was typed. Auto-repeat is dropped; held keys are tracked so
/// that a gap in the stream (SYN_DROPPED) and a vanished device end in the real state. Pure: no
/// system calls, one instance per device, used by one thread.
class EvdevDecoder {
public:
    /// One bit per key code (KEY_CNT), as EVIOCGKEY reports the keys held.
    using KeyState = std::bitset<0x300>;

    /// Feeds one record and appends what it means to `out`.
    void feed(const input_event& event, std::vector<KeyEvent>& out);

    /// True after SYN_DROPPED once the rest of the broken report has passed: the reader must now
    /// read the keys really held (EVIOCGKEY) and pass them to resync().
    bool needsResync() const { return resyncPending; }
    /// Brings the held keys in line with `real`: releases for keys that came up during the gap
    /// (the trigger's first), then presses for keys that went down.
    void resync(const KeyState& real, std::vector<KeyEvent>& out);
    /// Takes the keys held when the device was opened as held, without reporting them.
    void assume(const KeyState& real);
    /// The device has gone: releases every held key, the trigger's first, so that a hold ends with
    /// exactly one release (or, when another modifier was held too, the hotkey's interrupt).
    void vanish(std::vector<KeyEvent>& out);

    /// How many modifier keys this device holds down.
    int heldModifiers() const;

    /// Right Alt (KEY_RIGHTALT) or right Super (KEY_RIGHTMETA).
    static bool isTrigger(unsigned code);
    /// Control, Shift, Alt and Super on either side.
    static bool isModifier(unsigned code);
    /// A keyboard key rather than a mouse, joystick or pad button (those do not break a hold).
    static bool isKey(unsigned code);
    /// The event as it may leave the reader thread.
    static KeyEvent reduce(unsigned code, bool pressed);

private:
    void change(unsigned code, bool pressed, std::vector<KeyEvent>& out);

    KeyState held;
    bool dropping = false;
    bool resyncPending = false;
};

} // namespace platform::lnx
