#pragma once

#include "platform/KeySender.h"

#include <memory>

namespace platform::x11 {

/// Sends paste shortcuts through the X test extension, which the X server delivers like real key
/// presses (applications ignore events sent with XSendEvent). Owns its own X connection.
class XTestKeySender : public KeySender {
public:
    /// Connects to the display named by DISPLAY; without one every send reports `failed`.
    XTestKeySender();
    ~XTestKeySender() override;

    Result sendPaste(PasteShortcut shortcut) override;

private:
    struct Connection;
    std::unique_ptr<Connection> connection;
};

} // namespace platform::x11
