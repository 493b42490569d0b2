#pragma once

#include "app/TriggerKey.h"
#include "platform/KeyMonitor.h"

#include <functional>
#include <memory>

namespace app {

/// Push-to-talk on a single right-hand modifier. Watches every key on the desktop through a
/// platform::KeyMonitor and reports: the trigger went down (`onPress`), it came up after a press
/// (`onRelease`), or other key activity broke the hold (`onInterrupt`). onPress and onRelease
/// alternate strictly, and a hold ends with exactly one of onRelease or onInterrupt, so shortcuts
/// that use the trigger key never start a dictation's text. Main thread only; the callbacks run
/// there after `down` has been updated.
class Hotkey {
public:
    /// A hotkey for `key` fed by `monitor` (which must outlive it), not yet started.
    Hotkey(platform::KeyMonitor& monitor, TriggerKey key);
    /// Stops the monitor.
    ~Hotkey();
    Hotkey(const Hotkey&) = delete;
    Hotkey& operator=(const Hotkey&) = delete;

    TriggerKey key() const { return watched; }
    /// Watches `key` from the next event on; a hold in progress is dropped without a callback.
    void setKey(TriggerKey key);

    /// The trigger is held and its press has been reported.
    bool down() const { return held; }

    /// Restarts the monitor (stop, then start), so calling it again leaves one monitor running.
    /// False when the monitor could not start.
    bool start();
    /// Stops the monitor and drops a hold in progress without a callback.
    void stop();

    std::function<void()> onPress;
    std::function<void()> onRelease;
    std::function<void()> onInterrupt;

private:
    void handle(platform::KeyEvent event);

    platform::KeyMonitor& monitor;
    TriggerKey watched;
    bool held = false;
};

} // namespace app
