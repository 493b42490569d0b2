#pragma once

#include <string>

namespace platform {

/// Whether the trigger key can be heard.
enum class KeyAccess {
    ready,     ///< at least one keyboard with the trigger keys is readable
    denied,    ///< keyboards exist but the system refuses to let this program read them
    relogin,   ///< the user joined the group that may read keyboards, but this session predates it
    noDevices, ///< no keyboard is visible to the system at all (containers, some virtual machines)
};

/// Whether the paste keys can be sent.
enum class PasteAccess {
    ready,       ///< keys are sent without asking
    askFirst,    ///< the desktop asks the user once, at the first paste
    unavailable, ///< nothing can send keys: the text stays on the clipboard for the user to paste
};

/// What the first-run window, the tray header and the pill tell the user about the keyboard.
struct Access {
    KeyAccess keys = KeyAccess::ready;
    PasteAccess paste = PasteAccess::ready;
    /// With `denied`: the exact command that lets this user read keyboards (after a new login).
    std::string joinCommand;

    bool operator==(const Access&) const = default;
};

/// Whether the desktop lets this program watch the keyboard and send keys. Where a permission is
/// needed (a Wayland backend: input devices and uinput), the application polls it every 1.5 s for
/// as long as it runs, so that a permission lost later is shown as well. Main thread.
class Trust {
public:
    Trust() = default;
    virtual ~Trust() = default;
    Trust(const Trust&) = delete;
    Trust& operator=(const Trust&) = delete;

    /// True when the key monitor can work now (the trigger key can be heard).
    virtual bool isTrusted() = 0;
    /// Asks the desktop for the permission (a prompt, where it has one); returns isTrusted().
    virtual bool ask() = 0;
    /// The state in words the windows can put to the user; always ready where nothing is needed.
    virtual Access access() { return {}; }
};

} // namespace platform
