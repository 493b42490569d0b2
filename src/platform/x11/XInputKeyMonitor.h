#pragma once

#include "core/MainQueue.h"
#include "platform/KeyMonitor.h"

#include <memory>

namespace platform::x11 {

/// Watches the whole X desktop through XInput 2.2 raw key events on the root window, for all
/// master devices. Raw events arrive even while another client grabs the keyboard, carry no
/// auto-repeat, and nothing is grabbed, so every application still sees its keys. Uses its own X
/// connection (the display named by DISPLAY) read by its own thread; events reach `onKey` through
/// the main queue. Which keycodes are modifiers follows the server's modifier map.
class XInputKeyMonitor final : public KeyMonitor {
public:
    explicit XInputKeyMonitor(core::MainQueue& main);
    ~XInputKeyMonitor() override;

    /// False when the display cannot be opened or lacks XInput 2.2.
    bool start() override;
    void stop() override;

private:
    struct Connection;

    core::MainQueue& main;
    std::unique_ptr<Connection> connection;
    // Renewed at each start and released at stop: an event posted by an earlier run finds it
    // expired and is dropped. Created, released and checked on the main thread only.
    std::shared_ptr<int> run;
};

} // namespace platform::x11
