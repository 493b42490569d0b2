#include "core/RunLoop.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

TEST(RunLoop, RunsPostedWorkInOrderAndTimersByDueTime) {
    core::RunLoop loop;
    std::string trace;
    loop.postAfter(0.06, [&] { trace += "c"; });
    loop.postAfter(0.02, [&] { trace += "b"; });
    loop.post([&] { trace += "a"; });
    loop.postAfter(0.02, [&] { trace += "B"; }); // same due time: submission order
    loop.runUntil([&] { return trace.size() == 4; });
    EXPECT_EQ(trace, "abBc");
}

TEST(RunLoop, WorkPostedFromOtherThreadsRunsOnTheLoopThread) {
    core::RunLoop loop;
    std::thread::id ranOn;
    bool done = false;
    std::thread other([&] {
        loop.post([&] {
            ranOn = std::this_thread::get_id();
            done = true;
        });
    });
    loop.runUntil([&] { return done; });
    other.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(RunLoop, RunForLeavesLaterTimersPending) {
    core::RunLoop loop;
    bool early = false;
    bool late = false;
    loop.post([&] { early = true; });
    loop.postAfter(30, [&] { late = true; });
    loop.runFor(0.01);
    EXPECT_TRUE(early);
    EXPECT_FALSE(late);
}

TEST(RunLoop, WorkCanPostMoreWork) {
    core::RunLoop loop;
    int count = 0;
    std::function<void()> step = [&] {
        if (++count < 5) {
            loop.post(step);
        }
    };
    loop.post(step);
    loop.runUntil([&] { return count == 5; });
    EXPECT_EQ(count, 5);
}

} // namespace
