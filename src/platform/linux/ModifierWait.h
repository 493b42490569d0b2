#pragma once

#include "platform/KeySender.h"

#include <functional>

namespace platform::lnx {

/// Seconds between two looks at the user's modifiers.
inline constexpr double modifierPollSeconds = 0.01;

/// Waits on the calling thread (a key sender's own, never the main one), at most
/// KeySender::modifierWaitSeconds, until `heldModifiers` says none is held; `pause` sleeps between
/// looks. True when one was still held at the end. An unset `heldModifiers` means nothing to wait for.
inline bool waitForModifiers(const std::function<int()>& heldModifiers, const std::function<void(double)>& pause) {
    if (!heldModifiers)
        return false;
    const int looks = static_cast<int>(KeySender::modifierWaitSeconds / modifierPollSeconds);
    bool held = heldModifiers() > 0;
    for (int look = 0; held && look < looks; ++look) {
        pause(modifierPollSeconds);
        held = heldModifiers() > 0;
    }
    return held;
}

} // namespace platform::lnx
