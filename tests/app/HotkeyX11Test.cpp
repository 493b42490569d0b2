// The hotkey fed by the real XInput 2 monitor, with keys typed through XTEST by xdotool.
// Keys are given as numeric keycodes: by name, xdotool would also press left Alt for Alt_R.
#include "app/Hotkey.h"

#include "core/RunLoop.h"
#include "platform/x11/XInputKeyMonitor.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using app::Hotkey;
using app::TriggerKey;

namespace {

constexpr unsigned rightAlt = 108;
// Released (never pressed) after each scenario: once that release has come through, so has every key
// before it. The server reports the lone release as a raw event, and the release of an ordinary key
// does not touch a hold, so the marker leaves the scenario as it was.
constexpr unsigned marker = 96; // F12

// Passes the monitor's events on to the hotkey and keeps a copy, so a test can tell when the
// hotkey has seen a given key.
class TappedMonitor : public platform::KeyMonitor {
public:
    explicit TappedMonitor(core::MainQueue& main, std::vector<platform::KeyEvent>& seen) : inner(main), seen(seen) {
        inner.onKey = [this](platform::KeyEvent event) {
            this->seen.push_back(event);
            if (onKey)
                onKey(event);
        };
    }
    bool start() override { return inner.start(); }
    void stop() override { inner.stop(); }

private:
    platform::x11::XInputKeyMonitor inner;
    std::vector<platform::KeyEvent>& seen;
};

class HotkeyX11Test : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs an X display: run under scripts/rig.sh (make test does)";
        }
        hotkey = std::make_unique<Hotkey>(std::make_unique<TappedMonitor>(loop, seen));
        hotkey->onPress = [this] { events.push_back("press"); };
        hotkey->onRelease = [this] { events.push_back("release"); };
        hotkey->onInterrupt = [this] { events.push_back("interrupt"); };
        ASSERT_TRUE(hotkey->start());
    }

    void TearDown() override {
        // Leave no key held for the next test, whatever happened in this one.
        if (hotkey)
            std::system("xdotool keyup 108 keyup 134 keyup 50 keyup 38 >/dev/null 2>&1");
    }

    // Types `keys` (xdotool commands), then the marker, and waits until the marker has reached the
    // hotkey.
    void type(const std::string& keys) {
        const std::string command = "xdotool " + keys + " keyup " + std::to_string(marker);
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        loop.runUntil([this] { return !seen.empty() && seen.back().keycode == marker && !seen.back().pressed; });
        seen.clear();
    }

    std::vector<std::string> take() { return std::exchange(events, {}); }

    testsupport::IsolatedHome home;
    core::RunLoop loop;
    std::vector<platform::KeyEvent> seen;
    std::vector<std::string> events;
    std::unique_ptr<Hotkey> hotkey;
};

using Events = std::vector<std::string>;

} // namespace

TEST_F(HotkeyX11Test, PressAndReleaseOfRightAlt) {
    type("keydown 108 keyup 108");
    EXPECT_EQ(take(), (Events{"press", "release"}));
    type("keydown 64 keyup 64");
    EXPECT_EQ(take(), Events{}) << "left Alt";
}

TEST_F(HotkeyX11Test, TriggerWithALetterInterruptsAndTheLaterReleaseGivesNothing) {
    type("keydown 108 key 38");
    EXPECT_EQ(take(), (Events{"press", "interrupt"}));
    type("key 38 keyup 108");
    EXPECT_EQ(take(), Events{});
}

TEST_F(HotkeyX11Test, ShiftPressedOrReleasedDuringAHoldInterrupts) {
    type("keydown 108 keydown 50");
    EXPECT_EQ(take(), (Events{"press", "interrupt"}));
    type("keyup 50 keyup 108");
    EXPECT_EQ(take(), Events{});

    type("keydown 50 keydown 108");
    EXPECT_EQ(take(), (Events{"press"}));
    type("keyup 50");
    EXPECT_EQ(take(), (Events{"interrupt"}));
    type("keyup 108");
    EXPECT_EQ(take(), Events{});
}

TEST_F(HotkeyX11Test, AHeldTriggerGivesOnePress) {
    // xdotool repeats a held key's press; the raw stream reports the key once.
    type("keydown 108 keydown 108 keydown 108");
    EXPECT_EQ(take(), (Events{"press"}));
    EXPECT_TRUE(hotkey->down());
    type("keyup 108");
    EXPECT_EQ(take(), (Events{"release"}));
}

TEST_F(HotkeyX11Test, RightSuperAsTriggerIgnoresRightAlt) {
    hotkey->setKey(TriggerKey::rightCommand);
    type("keydown 108 keyup 108");
    EXPECT_EQ(take(), Events{});
    type("keydown 134 keyup 134");
    EXPECT_EQ(take(), (Events{"press", "release"}));
}

TEST_F(HotkeyX11Test, AStoppedMonitorDeliversNothingAndRestartsCleanly) {
    hotkey->stop();
    ASSERT_EQ(std::system("xdotool keydown 108 keyup 108"), 0);
    ASSERT_TRUE(hotkey->start());
    ASSERT_TRUE(hotkey->start());
    type("keydown 108 keyup 108");
    EXPECT_EQ(take(), (Events{"press", "release"})) << "one monitor: each event reported once";
}
