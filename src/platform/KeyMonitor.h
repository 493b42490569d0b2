#pragma once

#include <functional>

namespace platform {

/// One raw key transition, as the keyboard reported it (no auto-repeat, no layout applied).
struct KeyEvent {
    /// The X keycode (the Linux input event code + 8).
    unsigned keycode = 0;
    /// True for a press, false for a release.
    bool pressed = false;
    /// True when the key is one of the desktop's modifiers (Shift, Control, Alt, Super, AltGr...).
    bool isModifier = false;

    bool operator==(const KeyEvent&) const = default;
};

/// Reports raw key presses and releases anywhere on the desktop, without grabbing them.
/// Events are delivered through `onKey` on the main queue.
class KeyMonitor {
public:
    KeyMonitor() = default;
    virtual ~KeyMonitor() = default;
    KeyMonitor(const KeyMonitor&) = delete;
    KeyMonitor& operator=(const KeyMonitor&) = delete;

    /// Begins watching the keyboard; does nothing more when already watching. False when the
    /// desktop gives no key events (no display, no suitable extension). Main thread.
    virtual bool start() = 0;

    /// Stops watching. Events read before the stop but not yet delivered are dropped. Main thread.
    virtual void stop() = 0;

    /// Called on the main queue for each key event; set it before start().
    std::function<void(KeyEvent)> onKey;
};

} // namespace platform
