#pragma once

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "platform/KeySender.h"
#include "platform/linux/InputDevices.h"

#include <functional>
#include <memory>
#include <string>

namespace platform::lnx {

/// Sends the paste shortcuts through a virtual keyboard of the kernel (uinput), which every
/// compositor takes as a real keyboard: GNOME, KDE and wlroots alike. Needs write access to
/// /dev/uinput (an opt-in udev rule). One device, created once when the sender is made and kept for
/// the program's life: a device made per paste loses keys (compositors drop its modifiers while they
/// are still adding it). The device declares only the four keys it sends (left Control, left Shift,
/// V, Insert) and carries the name the key monitor skips.
///
/// The keys are the layout's keycodes, so Ctrl+V pastes only where the active layouts include a Latin
/// one; Shift+Insert, which the caller asks for where that is in doubt, means the same in every layout.
///
/// Everything touching the device runs on a thread of its own: the wait for the user's modifiers,
/// the settling pause after the device is created, and the gaps between key events (each followed by
/// EV_SYN), so the main thread never waits. Construct with `UinputKeySender(main, held)`, where
/// `held` counts the modifiers the user holds (EvdevKeyMonitor::heldModifiers); tests inject the
/// device layer and the pause.
class UinputKeySender final : public KeySender {
public:
    /// `main` must outlive the sender. `heldModifiers` is called on the sender's thread; unset, the
    /// sender does not wait. `pause` sleeps its calling thread for so many seconds.
    explicit UinputKeySender(core::MainQueue& main, std::function<int()> heldModifiers = {},
                             std::shared_ptr<InputDevices> devices = std::make_shared<SystemInputDevices>(),
                             std::string path = "/dev/uinput", std::function<void(double seconds)> pause = {});
    /// Removes the virtual keyboard.
    ~UinputKeySender() override;

    /// Reports `failed` when the device cannot be made (no access to uinput) or stops taking events;
    /// the next paste tries to make it again.
    void sendPaste(PasteShortcut shortcut, std::function<void(Result)> done) override;
    PasteShortcut reachable(PasteShortcut wanted) override { return reachableIn(wanted, latinV); }

    /// The user's layouts (SeatKeymap::watch), which give the keys their meaning; unset: Ctrl+V is
    /// taken as reachable. Main thread.
    LatinV latinV;

    /// Seconds between two key events, and after creating the device before its first key.
    static constexpr double gapSeconds = 0.012;
    static constexpr double settleSeconds = 0.2;

private:
    // The sender's thread only.
    bool ensureDevice();
    bool emit(unsigned short type, unsigned short code, int value);
    bool press(PasteShortcut shortcut);
    void destroyDevice();
    Result send(PasteShortcut shortcut);

    core::MainQueue& main;
    std::function<int()> heldModifiers;
    std::shared_ptr<InputDevices> devices;
    std::string path;
    std::function<void(double)> pause;
    int fd = -1; // the sender's thread only
    // Declared last so that it is joined first: its work uses the members above.
    core::SerialQueue worker{"ruvex.voice.keys"};
};

} // namespace platform::lnx
