#pragma once

#include <functional>
#include <optional>

namespace platform {

/// The key combinations that paste in the focused window.
enum class PasteShortcut {
    controlV,      ///< almost every application
    controlShiftV, ///< terminal emulators, where Ctrl+V goes to the program in the terminal
    shiftInsert,   ///< xterm and urxvt, which paste the primary selection; also the layout-proof choice
};

/// Sends synthetic key presses to the focused window, as if typed on the keyboard.
class KeySender {
public:
    /// What became of a paste shortcut.
    enum class Result {
        sent,             ///< sent with no other modifier held
        sentWithModifier, ///< the user still held a modifier after the wait; sent anyway
        failed,           ///< no keys could be sent (no display, no test extension, no device)
    };

    KeySender() = default;
    KeySender(const KeySender&) = delete;
    KeySender& operator=(const KeySender&) = delete;
    virtual ~KeySender() = default;

    /// Waits, at most `modifierWaitSeconds` and without blocking the main thread, for the user to let
    /// go of every modifier key (the trigger key is one, and a held modifier turns the shortcut into
    /// another one), then presses and releases `shortcut`. `done` is called once, on the main thread,
    /// never from inside this call. Call on the main thread.
    virtual void sendPaste(PasteShortcut shortcut, std::function<void(Result)> done) = 0;

    /// The shortcut this sender presses for `wanted`. A sender whose keys are read in the user's
    /// layouts cannot type Ctrl+V where none of them has a Latin V, and presses Shift+Insert there
    /// instead: the paste key of every layout (terminals paste the primary selection with it, so the
    /// text must be on both selections). Main thread.
    virtual PasteShortcut reachable(PasteShortcut wanted) { return wanted; }

    static constexpr double modifierWaitSeconds = 0.5;
};

/// Whether one of the user's keyboard layouts puts a Latin v on the V key; nothing while unknown.
/// For the senders whose keys are read in those layouts.
using LatinV = std::function<std::optional<bool>()>;

/// What such a sender presses for `wanted`: Shift+Insert where `latinV` says no layout has a Latin V
/// (unknown or unset: most layout sets have a Latin layout, so Ctrl+V).
inline PasteShortcut reachableIn(PasteShortcut wanted, const LatinV& latinV) {
    const bool latin = !latinV || latinV().value_or(true);
    return latin ? wanted : PasteShortcut::shiftInsert;
}

} // namespace platform
