#include "core/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

namespace {

TEST(SerialQueue, RunsWorkInSubmissionOrderFromManyThreads) {
    std::vector<int> seen; // touched only on the queue
    {
        core::SerialQueue queue("ruvex.voice.test");
        for (int i = 0; i < 1000; ++i) {
            queue.post([&seen, i] { seen.push_back(i); });
        }
        std::vector<int> copy;
        queue.sync([&] { copy = seen; });
        ASSERT_EQ(copy.size(), 1000u);
        for (int i = 0; i < 1000; ++i) {
            EXPECT_EQ(copy[i], i);
        }
    }
}

TEST(SerialQueue, DestructionDrainsEverythingSubmittedIncludingFromItself) {
    std::atomic<int> ran = 0;
    {
        core::SerialQueue queue("drain");
        for (int i = 0; i < 50; ++i) {
            queue.post([&] {
                ++ran;
                // Work submitted from the queue while it is being destroyed still runs.
                queue.post([&] { ++ran; });
            });
        }
    }
    EXPECT_EQ(ran.load(), 100);
}

TEST(SerialQueue, KnowsItsOwnThreadAndRefusesSyncFromIt) {
    core::SerialQueue queue("self");
    EXPECT_FALSE(queue.isCurrent());
    bool inside = false;
    bool threw = false;
    queue.sync([&] {
        inside = queue.isCurrent();
        try {
            queue.sync([] {});
        } catch (const std::logic_error&) {
            threw = true;
        }
    });
    EXPECT_TRUE(inside);
    EXPECT_TRUE(threw);
}

TEST(SerialQueue, MayBeReleasedFromInsideItsOwnWork) {
    auto queue = std::make_shared<core::SerialQueue>("release");
    std::atomic<bool> done = false;
    std::weak_ptr<core::SerialQueue> weak = queue;
    queue->post([keep = queue, &done]() mutable {
        keep.reset(); // the last owner lets go on the queue's own thread
        done = true;
    });
    queue.reset();
    while (!done) {
        std::this_thread::yield();
    }
    while (!weak.expired()) {
        std::this_thread::yield();
    }
    SUCCEED();
}

} // namespace
