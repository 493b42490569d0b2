#pragma once

#include <functional>

namespace core {

/// The main thread's queue: controller state, windows, timers and every completion that the
/// Parts deliver "on the main thread" run here. The application implements it over the Qt event
/// loop; the command-line modes and tests use RunLoop.
class MainQueue {
public:
    virtual ~MainQueue() = default;

    /// Runs `work` on the main thread, after the work posted before it. Callable from any thread.
    virtual void post(std::function<void()> work) = 0;

    /// Runs `work` on the main thread once `seconds` have passed. Callable from any thread.
    virtual void postAfter(double seconds, std::function<void()> work) = 0;
};

} // namespace core
