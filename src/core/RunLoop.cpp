#include "core/RunLoop.h"

#include <algorithm>

namespace core {

namespace {
bool later(const auto& a, const auto& b) {
    return a.due != b.due ? a.due > b.due : a.order > b.order;
}
} // namespace

// Both notify while holding the lock: once the owner can see the work it may run it and destroy
// the loop, so a poster must not touch the loop after unlocking.
void RunLoop::post(std::function<void()> work) {
    std::lock_guard lock(mutex);
    ready.push_back(std::move(work));
    wake.notify_all();
}

void RunLoop::postAfter(double seconds, std::function<void()> work) {
    auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::lock_guard lock(mutex);
    timers.push_back({due, nextOrder++, std::move(work)});
    std::push_heap(timers.begin(), timers.end(), [](auto& a, auto& b) { return later(a, b); });
    wake.notify_all();
}

bool RunLoop::runOne(Clock::time_point deadline) {
    std::function<void()> work;
    {
        std::unique_lock lock(mutex);
        for (;;) {
            auto now = Clock::now();
            // Timers that have come due join the ready work in due order.
            while (!timers.empty() && timers.front().due <= now) {
                std::pop_heap(timers.begin(), timers.end(), [](auto& a, auto& b) { return later(a, b); });
                ready.push_back(std::move(timers.back().work));
                timers.pop_back();
            }
            if (!ready.empty()) {
                work = std::move(ready.front());
                ready.pop_front();
                break;
            }
            if (now >= deadline) {
                return false;
            }
            auto until = timers.empty() ? deadline : std::min(deadline, timers.front().due);
            wake.wait_until(lock, until);
        }
    }
    work();
    return true;
}

void RunLoop::runFor(double seconds) {
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (runOne(deadline)) {
    }
}

void RunLoop::runUntil(const std::function<bool()>& done, double sliceSeconds) {
    while (!done()) {
        auto deadline =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(sliceSeconds));
        while (!done() && runOne(deadline)) {
        }
    }
}

} // namespace core
