#pragma once

#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandKeySender.h"

#include <memory>

struct org_kde_kwin_fake_input;

namespace platform::wayland {

/// Sends the paste keys through KWin's fake-input protocol. KWin offers it only to programs whose
/// desktop entry lists it in X-KDE-Wayland-Interfaces (the installed entry does), and then without
/// asking the user. Keys are Linux input codes, read in the user's layouts (KWin's own keymap): where
/// none of them has a Latin V, Shift+Insert pastes instead of Ctrl+V.
class FakeInputKeySender final : public WaylandKeySender {
public:
    /// Connects to the compositor and introduces the program; `held` counts the user's held
    /// modifiers. `main` must outlive the sender.
    FakeInputKeySender(core::MainQueue& main, HeldModifiers held);
    ~FakeInputKeySender() override;

    /// True when KWin offers the protocol (version 4, with keyboard keys) to this program.
    bool usable() const override;
    PasteShortcut reachable(PasteShortcut wanted) override;

protected:
    bool key(unsigned code, bool pressed) override;
    bool settle() override;

private:
    WaylandConnection connection;
    org_kde_kwin_fake_input* input = nullptr;
    std::unique_ptr<SeatKeymap> keymap;
};

} // namespace platform::wayland
