#pragma once

#include "platform/KeyMonitor.h"

namespace fakes {

/// A key monitor driven by the test: records starts and stops, and hands events to onKey at once
/// (as if the main queue had already delivered them).
class FakeKeyMonitor : public platform::KeyMonitor {
public:
    bool start() override {
        ++starts;
        if (!startResult)
            return false;
        running = true;
        return true;
    }
    void stop() override {
        ++stops;
        running = false;
    }

    /// Delivers one event when running, like a real monitor would.
    void send(unsigned keycode, bool pressed, bool isModifier = false) {
        if (running && onKey)
            onKey(platform::KeyEvent{keycode, pressed, isModifier});
    }
    void press(unsigned keycode, bool isModifier = false) { send(keycode, true, isModifier); }
    void release(unsigned keycode, bool isModifier = false) { send(keycode, false, isModifier); }

    bool startResult = true;
    bool running = false;
    int starts = 0;
    int stops = 0;
};

} // namespace fakes
