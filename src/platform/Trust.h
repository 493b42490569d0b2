#pragma once

namespace platform {

/// Whether the desktop lets this program watch the keyboard and send keys. Where a permission is
/// needed (a Wayland backend: input devices and uinput), the application polls it until granted.
/// Main thread.
class Trust {
public:
    Trust() = default;
    virtual ~Trust() = default;
    Trust(const Trust&) = delete;
    Trust& operator=(const Trust&) = delete;

    /// True when the key monitor and the key sender can work now.
    virtual bool isTrusted() = 0;
    /// Asks the desktop for the permission (a prompt, where it has one); returns isTrusted().
    virtual bool ask() = 0;
};

} // namespace platform
