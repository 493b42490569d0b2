// The XInput 2 key monitor on the rig's X server, with keys typed through XTEST by xdotool.
#include "platform/x11/XInputKeyMonitor.h"

#include "core/RunLoop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

class XInputKeyMonitorTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs an X display: run under scripts/rig.sh (make test does)";
        }
        monitor.onKey = [this](platform::KeyEvent event) {
            seen.push_back(std::to_string(event.keycode) + (event.pressed ? "+" : "-") + (event.isModifier ? "m" : ""));
        };
    }

    // Types `keys` (xdotool commands) and returns the events ("50+m": keycode, press, modifier) before
    // the marker: key 97, released without a press, which the server reports after all typed before.
    std::string type(const std::string& keys) {
        const std::string command = "xdotool " + keys + " keyup 97";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        loop.runUntil([this] { return !seen.empty() && seen.back().rfind("97-", 0) == 0; });
        seen.pop_back();
        std::string events;
        for (const auto& event : std::exchange(seen, {})) {
            events += (events.empty() ? "" : " ") + event;
        }
        return events;
    }

    core::RunLoop loop;
    platform::x11::XInputKeyMonitor monitor{loop};
    std::vector<std::string> seen;
};

TEST_F(XInputKeyMonitorTest, ReportsPressesAndReleasesWithModifiersFromTheLiveServerMap) {
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(type("keydown 50 key 38 keyup 50"), "50+m 38+ 38- 50-m");
    EXPECT_EQ(type("key 96"), "96+ 96-");
    ASSERT_EQ(std::system("xmodmap -e 'add mod3 = F12'"), 0);
    const auto events = type("key 96");
    std::system("xmodmap -e 'remove mod3 = F12'");
    EXPECT_EQ(events, "96+m 96-m") << "the monitor kept the modifier map it started with";
    EXPECT_EQ(type("key 96"), "96+ 96-");
}

TEST_F(XInputKeyMonitorTest, StopsAndRestartsAndDropsEventsOfAnEarlierRun) {
    ASSERT_TRUE(monitor.start());
    ASSERT_TRUE(monitor.start()) << "a second start keeps the running monitor";
    EXPECT_EQ(type("key 38"), "38+ 38-") << "one connection: each key once";

    // Read by the monitor but not yet delivered when it stops: dropped.
    ASSERT_EQ(std::system("xdotool key 38 keyup 97"), 0);
    monitor.stop();
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(type("key 50"), "50+m 50-m");
}

TEST_F(XInputKeyMonitorTest, StartFailsWithoutADisplay) {
    const std::string display = std::getenv("DISPLAY");
    setenv("DISPLAY", ":4095", 1);
    EXPECT_FALSE(monitor.start());
    unsetenv("DISPLAY");
    EXPECT_FALSE(monitor.start());
    setenv("DISPLAY", display.c_str(), 1);
}

} // namespace
