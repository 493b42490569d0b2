#pragma once

#include "core/MainQueue.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace core {

/// A main queue for the command-line modes and the tests. Work runs only while the thread that
/// owns the loop calls runFor or runUntil, which makes that thread the main thread.
class RunLoop : public MainQueue {
public:
    RunLoop() = default;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    void post(std::function<void()> work) override;
    void postAfter(double seconds, std::function<void()> work) override;

    /// Runs due work for `seconds`, sleeping while nothing is due.
    void runFor(double seconds);

    /// Runs due work in slices of `sliceSeconds` until `done` returns true (checked between slices
    /// and after every piece of work). Returns at once when `done` is already true.
    void runUntil(const std::function<bool()>& done, double sliceSeconds = 0.05);

private:
    using Clock = std::chrono::steady_clock;
    struct Timed {
        Clock::time_point due;
        unsigned long long order;
        std::function<void()> work;
    };

    /// Runs at most one piece of work that is due before `deadline`, waiting for it until then.
    bool runOne(Clock::time_point deadline);

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> ready;
    std::vector<Timed> timers; // a heap ordered by (due, order)
    unsigned long long nextOrder = 0;
};

} // namespace core
