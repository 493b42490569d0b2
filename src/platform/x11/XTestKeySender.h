#pragma once

#include "core/Clock.h"
#include "core/MainQueue.h"
#include "platform/KeySender.h"
#include "platform/x11/XConnection.h"

#include <memory>

namespace platform::x11 {

/// Sends paste shortcuts through the X test extension, which the X server delivers like real key
/// presses (applications ignore events sent with XSendEvent). Owns its own X connection; waits for
/// the user's modifiers by polling the keyboard state from the main queue.
class XTestKeySender : public KeySender {
public:
    /// Connects to the display named by DISPLAY; without one (or without the test extension) every
    /// send reports `failed`. `main` must outlive the sender.
    explicit XTestKeySender(core::MainQueue& main);

    void sendPaste(PasteShortcut shortcut, std::function<void(Result)> done) override;

private:
    /// Sends once the modifiers are up or `deadline` has passed; else looks again in 10 ms.
    void sendWhenFree(PasteShortcut shortcut, double deadline, std::function<void(Result)> done);
    bool modifierHeld() const;
    void press(PasteShortcut shortcut);

    core::MainQueue& main;
    core::SystemClock clock;
    XConnection connection;
    std::bitset<256> modifiers;
    // Checked by the delayed retries: they do nothing once the sender is gone.
    std::shared_ptr<char> alive = std::make_shared<char>();
};

} // namespace platform::x11
