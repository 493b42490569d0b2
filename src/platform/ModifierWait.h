#pragma once

#include "core/Clock.h"
#include "core/MainQueue.h"

#include <functional>
#include <memory>

namespace platform {

/// How many modifier keys the user holds now (only a count: which keys is nobody's business). Key
/// senders that cannot ask the display server take it from the key monitor.
using HeldModifiers = std::function<int()>;

/// Calls `then(stillHeld)` on the main queue once `held` reads zero, or with true once `seconds` have
/// passed without that; looks again every 10 ms and never blocks the main thread. Nothing is called
/// once `owner` has expired. Main thread.
inline void waitForModifiers(core::MainQueue& main, HeldModifiers held, double seconds, std::weak_ptr<void> owner,
                             std::function<void(bool stillHeld)> then) {
    struct Wait {
        static void check(core::MainQueue& main, const HeldModifiers& held, double deadline,
                          const std::weak_ptr<void>& owner, std::function<void(bool)> then) {
            if (owner.expired()) {
                return;
            }
            const bool down = held && held() > 0;
            if (down && core::SystemClock().now() < deadline) {
                main.postAfter(0.01, [&main, held, deadline, owner, then = std::move(then)]() mutable {
                    check(main, held, deadline, owner, std::move(then));
                });
                return;
            }
            then(down);
        }
    };
    const double deadline = core::SystemClock().now() + seconds;
    // Always through the queue: the caller's `done` must never run inside its own call.
    main.post([&main, held = std::move(held), deadline, owner = std::move(owner), then = std::move(then)]() mutable {
        Wait::check(main, held, deadline, owner, std::move(then));
    });
}

} // namespace platform
