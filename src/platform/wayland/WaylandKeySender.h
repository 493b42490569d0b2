#pragma once

#include "core/MainQueue.h"
#include "platform/KeySender.h"
#include "platform/ModifierWait.h"

#include <memory>
#include <vector>

namespace platform::wayland {

/// What the Wayland key senders share: the wait for the user's modifiers, then the shortcut's keys
/// one event at a time with a short gap after each (compositors and toolkits drop or merge events
/// that come back to back), all on the main queue without blocking it. Subclasses send one key event.
class WaylandKeySender : public KeySender {
public:
    void sendPaste(PasteShortcut shortcut, std::function<void(Result)> done) override;

    /// Seconds between two key events.
    static constexpr double keyGap = 0.012;

    /// True when keys can be sent at all.
    virtual bool usable() const = 0;

protected:
    WaylandKeySender(core::MainQueue& main, HeldModifiers held);

    /// Sends one press or release of a Linux input code; false when it could not be sent.
    virtual bool key(unsigned code, bool pressed) = 0;
    /// After the last key: waits until the compositor has taken every event; false when it failed.
    virtual bool settle() = 0;

    core::MainQueue& main;

private:
    void step(std::vector<std::pair<unsigned, bool>> events, std::size_t next, bool stillHeld,
              std::function<void(Result)> done);

    HeldModifiers held;
    // Checked by the delayed steps: they do nothing once the sender is gone.
    std::shared_ptr<char> alive = std::make_shared<char>();
};

} // namespace platform::wayland
