#pragma once

#include "platform/KeyMonitor.h"

namespace fakes {

/// A key monitor driven by the test: counts starts and stops, and hands events to onKey at once
/// (as if the main queue had already delivered them), only while running.
class FakeKeyMonitor : public platform::KeyMonitor {
public:
    bool start() override {
        ++starts;
        running = running || startResult;
        return startResult;
    }
    void stop() override {
        ++stops;
        running = false;
    }
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
