// The XInput 2 key monitor on the rig's X server, with keys typed through XTEST by xdotool.
#include "platform/x11/XInputKeyMonitor.h"

#include "core/RunLoop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

using platform::KeyEvent;
using platform::x11::XInputKeyMonitor;

namespace {

constexpr unsigned shift = 50;
constexpr unsigned letterA = 38;
constexpr unsigned f12 = 96;
// Released (never pressed) at the end of each sequence: the server reports the lone release, and
// once it has arrived so has everything typed before it.
constexpr unsigned marker = 97;

class XInputKeyMonitorTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs an X display: run under scripts/rig.sh (make test does)";
        }
        monitor.onKey = [this](KeyEvent event) { seen.push_back(event); };
    }

    // Types `keys` (xdotool commands) and returns the events up to, not including, the marker.
    std::vector<KeyEvent> type(const std::string& keys) {
        const std::string command = "xdotool " + keys + " keyup " + std::to_string(marker);
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        loop.runUntil([this] { return !seen.empty() && seen.back().keycode == marker; });
        seen.pop_back();
        return std::exchange(seen, {});
    }

    core::RunLoop loop;
    XInputKeyMonitor monitor{loop};
    std::vector<KeyEvent> seen;
};

// A copy of the environment variable, put back when the object goes.
class SavedEnv {
public:
    explicit SavedEnv(const char* name) : name(name) {
        if (const char* value = std::getenv(name))
            saved = value;
    }
    ~SavedEnv() {
        if (saved)
            setenv(name, saved->c_str(), 1);
    }
    SavedEnv(const SavedEnv&) = delete;
    SavedEnv& operator=(const SavedEnv&) = delete;

private:
    const char* name;
    std::optional<std::string> saved;
};

} // namespace

TEST_F(XInputKeyMonitorTest, ReportsPressesAndReleasesWithModifiersFromTheServerMap) {
    ASSERT_TRUE(monitor.start());
    const auto events = type("keydown 50 key 38 keyup 50");
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].keycode, shift);
    EXPECT_TRUE(events[0].pressed);
    EXPECT_TRUE(events[0].isModifier);
    EXPECT_EQ(events[1].keycode, letterA);
    EXPECT_TRUE(events[1].pressed);
    EXPECT_FALSE(events[1].isModifier);
    EXPECT_EQ(events[2].keycode, letterA);
    EXPECT_FALSE(events[2].pressed);
    EXPECT_EQ(events[3].keycode, shift);
    EXPECT_FALSE(events[3].pressed);
    EXPECT_TRUE(events[3].isModifier);
}

TEST_F(XInputKeyMonitorTest, FollowsAChangedModifierMap) {
    ASSERT_TRUE(monitor.start());
    EXPECT_FALSE(type("key 96").at(0).isModifier);
    ASSERT_EQ(std::system("xmodmap -e 'add mod3 = F12'"), 0);
    const auto events = type("key 96");
    std::system("xmodmap -e 'remove mod3 = F12'");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].keycode, f12);
    EXPECT_TRUE(events[0].isModifier) << "the monitor kept the modifier map it started with";
    EXPECT_FALSE(type("key 96").at(0).isModifier);
}

TEST_F(XInputKeyMonitorTest, StopsAndRestartsAndDropsEventsOfAnEarlierRun) {
    ASSERT_TRUE(monitor.start());
    ASSERT_TRUE(monitor.start()) << "a second start keeps the running monitor";
    EXPECT_EQ(type("key 38").size(), 2u) << "one connection: each key once";

    // Read by the monitor but not yet delivered when it stops: dropped.
    ASSERT_EQ(std::system("xdotool key 38 keyup 97"), 0);
    monitor.stop();
    ASSERT_TRUE(monitor.start());
    const auto events = type("key 50");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].keycode, shift);
}

TEST_F(XInputKeyMonitorTest, StartFailsWithoutADisplay) {
    SavedEnv display("DISPLAY");
    setenv("DISPLAY", ":4095", 1);
    EXPECT_FALSE(monitor.start());
    unsetenv("DISPLAY");
    EXPECT_FALSE(monitor.start());
}
