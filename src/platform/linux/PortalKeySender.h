#pragma once

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "platform/KeySender.h"
#include "platform/SecretStore.h"

#include <functional>
#include <memory>

namespace platform::lnx {

/// Sends the paste shortcuts through the desktop's RemoteDesktop portal
/// (org.freedesktop.portal.RemoteDesktop): the way on GNOME when /dev/uinput is closed, and KDE's last
/// resort. The desktop asks the user once (a consent dialog at the first paste); where the portal can
/// remember the answer (interface version 2), the restore token it hands out is kept in the secret
/// store as a credential (service "app.ruvex.voice", account "remote-desktop") and offered at the
/// next start, so the dialog does not come back. The session stays open for the program's life.
///
/// Keys are evdev keycodes read with the desktop's layout: Ctrl+V pastes where a Latin layout is
/// among the active ones; Shift+Insert, which the caller asks for where that is in doubt, everywhere.
/// Some desktops drop the first key of a new session: a lone Shift tap and a short pause go first.
///
/// Everything runs on a thread of its own with its own D-Bus connection to the session bus, so the
/// main thread never waits, not even while the dialog is open. A refused or unanswered dialog makes
/// the paste `failed` (the text stays on the clipboard) and the next paste asks again. Construct with
/// `PortalKeySender(main, desktop.secretStore, held)`, `held` as for UinputKeySender.
class PortalKeySender final : public KeySender {
public:
    /// `main` must outlive the sender. `heldModifiers` runs on the sender's thread (unset: no wait);
    /// `pause` sleeps that thread (tests record it instead).
    PortalKeySender(core::MainQueue& main, std::shared_ptr<SecretStore> secrets,
                    std::function<int()> heldModifiers = {}, std::function<void(double seconds)> pause = {});
    /// Closes the portal session.
    ~PortalKeySender() override;

    void sendPaste(PasteShortcut shortcut, std::function<void(Result)> done) override;
    PasteShortcut reachable(PasteShortcut wanted) override { return reachableIn(wanted, latinV); }

    /// The user's layouts (SeatKeymap::watch), which give the keys their meaning; unset: Ctrl+V is
    /// taken as reachable. Main thread.
    LatinV latinV;

    /// The RemoteDesktop portal's interface version on the session bus; 0 when none answers. May wait
    /// seconds (the portal may be started for the call): for the diagnostics, not the main thread.
    static unsigned portalVersion();

    static constexpr const char* secretService = "app.ruvex.voice";
    static constexpr const char* secretAccount = "remote-desktop";
    /// Seconds between two key events, and after the warm-up tap of a new session.
    static constexpr double gapSeconds = 0.012;
    static constexpr double warmUpSeconds = 0.3;
    /// How long the user may take to answer the dialog before the paste counts as failed.
    static constexpr double consentSeconds = 120;

private:
    class Portal;

    Result send(PasteShortcut shortcut);

    core::MainQueue& main;
    std::shared_ptr<SecretStore> secrets;
    std::function<int()> heldModifiers;
    std::function<void(double)> pause;
    std::unique_ptr<Portal> portal; // the sender's thread only
    // Declared last so that it is joined first: its work uses the members above.
    core::SerialQueue worker{"ruvex.voice.portal"};
};

} // namespace platform::lnx
