#include "app/Hotkey.h"

#include "fakes/FakeKeyMonitor.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using app::Hotkey;
using app::TriggerKey;

namespace {

constexpr unsigned rightAlt = 108;
constexpr unsigned rightSuper = 134;
constexpr unsigned leftAlt = 64;
constexpr unsigned shift = 50;
constexpr unsigned letterA = 38;
constexpr unsigned letterS = 39;

class HotkeyTest : public testing::Test {
protected:
    HotkeyTest() {
        auto owned = std::make_unique<fakes::FakeKeyMonitor>();
        monitor = owned.get();
        hotkey = std::make_unique<Hotkey>(std::move(owned));
        hotkey->onPress = [this] { record("press"); };
        hotkey->onRelease = [this] { record("release"); };
        hotkey->onInterrupt = [this] { record("interrupt"); };
    }

    // Each callback also notes `down` as it was when the callback ran.
    void record(const std::string& what) { events.push_back(what + (hotkey->down() ? "+down" : "")); }

    testsupport::IsolatedHome home;
    fakes::FakeKeyMonitor* monitor = nullptr;
    std::unique_ptr<Hotkey> hotkey;
    std::vector<std::string> events;
};

using Events = std::vector<std::string>;

} // namespace

TEST_F(HotkeyTest, PressAndReleaseAlternateAfterDownIsUpdated) {
    ASSERT_TRUE(hotkey->start());
    EXPECT_EQ(hotkey->key(), TriggerKey::rightOption);
    monitor->release(rightAlt, true);
    EXPECT_TRUE(events.empty()) << "a release without a press";

    monitor->press(rightAlt, true);
    monitor->press(rightAlt, true);
    EXPECT_TRUE(hotkey->down());
    monitor->release(rightAlt, true);
    monitor->release(rightAlt, true);
    EXPECT_FALSE(hotkey->down());
    monitor->press(rightAlt, true);
    monitor->release(rightAlt, true);
    EXPECT_EQ(events, (Events{"press+down", "release", "press+down", "release"}));
}

TEST_F(HotkeyTest, OtherKeysDuringAHoldInterruptOnceAndTheReleaseIsSilent) {
    hotkey->start();
    monitor->press(letterA);
    monitor->release(letterA);
    EXPECT_TRUE(events.empty()) << "keys without a hold";

    monitor->press(rightAlt, true);
    monitor->press(letterA);
    monitor->press(letterA);
    monitor->press(letterS);
    monitor->release(letterA);
    monitor->release(rightAlt, true);
    EXPECT_EQ(events, (Events{"press+down", "interrupt"}));
}

TEST_F(HotkeyTest, ModifiersInterruptOnPressAndOnReleaseButOrdinaryReleasesDoNot) {
    hotkey->start();
    monitor->press(rightAlt, true);
    monitor->press(shift, true);
    monitor->release(shift, true);
    monitor->release(rightAlt, true);
    EXPECT_EQ(events, (Events{"press+down", "interrupt"}));

    // Shift held before the trigger: its release during the hold is a shortcut in the making.
    events.clear();
    monitor->press(shift, true);
    monitor->press(rightAlt, true);
    monitor->release(shift, true);
    monitor->release(rightAlt, true);
    EXPECT_EQ(events, (Events{"press+down", "interrupt"}));

    // A letter still going up from before the press does not end the hold.
    events.clear();
    monitor->press(letterA);
    monitor->press(rightAlt, true);
    monitor->release(letterA);
    monitor->release(rightAlt, true);
    EXPECT_EQ(events, (Events{"press+down", "release"}));
}

TEST_F(HotkeyTest, OnlyTheChosenRightHandKeyTriggers) {
    hotkey->start();
    monitor->press(leftAlt, true);
    monitor->release(leftAlt, true);
    monitor->press(rightSuper, true);
    monitor->release(rightSuper, true);
    EXPECT_TRUE(events.empty());

    hotkey->setKey(TriggerKey::rightCommand);
    monitor->press(rightAlt, true);
    monitor->release(rightAlt, true);
    EXPECT_TRUE(events.empty());
    monitor->press(rightSuper, true);
    monitor->release(rightSuper, true);
    EXPECT_EQ(events, (Events{"press+down", "release"}));
}

TEST_F(HotkeyTest, ChangingTheKeyOrStoppingDropsAHoldSilently) {
    hotkey->start();
    monitor->press(rightAlt, true);
    hotkey->setKey(TriggerKey::rightCommand);
    EXPECT_FALSE(hotkey->down());
    monitor->press(letterA);
    monitor->release(rightAlt, true);
    EXPECT_EQ(events, (Events{"press+down"}));

    monitor->press(rightSuper, true);
    hotkey->stop();
    EXPECT_FALSE(hotkey->down());
    EXPECT_FALSE(monitor->running);
    monitor->release(rightSuper, true);
    EXPECT_EQ(events, (Events{"press+down", "press+down"}));
}

TEST_F(HotkeyTest, StartRestartsTheOneMonitorAndReportsFailure) {
    EXPECT_TRUE(hotkey->start());
    EXPECT_TRUE(hotkey->start());
    EXPECT_EQ(monitor->starts, 2);
    EXPECT_EQ(monitor->stops, 2) << "each start stops first";
    EXPECT_TRUE(monitor->running);

    monitor->press(rightAlt, true);
    EXPECT_TRUE(hotkey->start());
    EXPECT_FALSE(hotkey->down()) << "a restart ends the hold";

    monitor->startResult = false;
    EXPECT_FALSE(hotkey->start());
}

TEST(HotkeySaved, WatchesTheSavedKeyFromConstruction) {
    testsupport::IsolatedHome home;
    ASSERT_TRUE(TriggerKey::setSaved(TriggerKey::rightCommand));
    auto owned = std::make_unique<fakes::FakeKeyMonitor>();
    auto* monitor = owned.get();
    Hotkey hotkey(std::move(owned));
    EXPECT_EQ(hotkey.key(), TriggerKey::rightCommand);
    EXPECT_FALSE(monitor->running) << "not started by construction";
}
