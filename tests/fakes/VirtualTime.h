#pragma once

#include "core/Clock.h"
#include "core/MainQueue.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <vector>

namespace fakes {

/// A main queue and a clock on a virtual time line: nothing runs until the test calls run() or
/// advance(), and advance() moves the clock to each piece of work's due time before running it,
/// so delays and timeouts are tested without sleeping.
class VirtualTime : public core::MainQueue, public core::Clock {
public:
    void post(std::function<void()> work) override { postAfter(0, std::move(work)); }

    void postAfter(double seconds, std::function<void()> work) override {
        std::lock_guard lock(mutex);
        pending.push_back({current + seconds, order++, std::move(work)});
    }

    double now() const override {
        std::lock_guard lock(mutex);
        return current;
    }

    /// Runs the work that is due now, including work it posts for now.
    void run() { advance(0); }

    /// Moves time forward by `seconds`, running every piece of work that falls due on the way, in order.
    void advance(double seconds) {
        double end;
        {
            std::lock_guard lock(mutex);
            end = current + seconds;
        }
        while (auto next = takeDue(end))
            next();
        std::lock_guard lock(mutex);
        current = std::max(current, end);
    }

    /// Pieces of work not yet run.
    std::size_t waiting() const {
        std::lock_guard lock(mutex);
        return pending.size();
    }

private:
    struct Item {
        double due;
        unsigned long order;
        std::function<void()> work;
    };

    std::function<void()> takeDue(double end) {
        std::lock_guard lock(mutex);
        auto first = std::min_element(pending.begin(), pending.end(), [](const Item& a, const Item& b) {
            return a.due < b.due || (a.due == b.due && a.order < b.order);
        });
        // A small tolerance, so that 0.1 + 0.2 seconds reaches work due at 0.3.
        if (first == pending.end() || first->due > end + 1e-9)
            return {};
        current = std::max(current, first->due);
        auto work = std::move(first->work);
        pending.erase(first);
        return work;
    }

    mutable std::mutex mutex;
    double current = 0;
    unsigned long order = 0;
    std::vector<Item> pending;
};

} // namespace fakes
