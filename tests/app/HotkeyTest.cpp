#include "app/Hotkey.h"
#include "app/SingleInstance.h"
#include "speech/Model.h"

#include "fakes/FakeKeyMonitor.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

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
        hotkey = std::make_unique<Hotkey>(*monitor, TriggerKey::rightOption);
        hotkey->onPress = [this] { record("press"); };
        hotkey->onRelease = [this] { record("release"); };
        hotkey->onInterrupt = [this] { record("interrupt"); };
    }

    // Each callback also notes `down` as it was when the callback ran.
    void record(const std::string& what) { events.push_back(what + (hotkey->down() ? "+down" : "")); }

    std::unique_ptr<fakes::FakeKeyMonitor> monitor = std::make_unique<fakes::FakeKeyMonitor>();
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

TEST(TriggerKey, TheSavedChoiceDefaultsToRightAltAndSurvivesARoundTrip) {
    testsupport::IsolatedHome home;
    auto settings = core::Defaults::standard();
    EXPECT_EQ(TriggerKey::saved(settings), TriggerKey::rightOption) << "absent setting";
    ASSERT_TRUE(TriggerKey::setSaved(settings, TriggerKey::rightCommand));
    EXPECT_EQ(TriggerKey::saved(settings), TriggerKey::rightCommand);
    EXPECT_EQ(settings.string("triggerKey"), "rightCommand");
    ASSERT_TRUE(settings.setString("triggerKey", "leftCommand"));
    EXPECT_EQ(TriggerKey::saved(settings), TriggerKey::rightOption) << "unknown value";
    EXPECT_EQ(TriggerKey::fromRawValue("RightCommand"), std::nullopt);
}

TEST(SingleInstance, OnlyOneHolderUntilItGoes) {
    testsupport::IsolatedHome home;
    EXPECT_EQ(app::SingleInstance::defaultFile().parent_path(), home.path() / "runtime");
    const auto file = home.path() / "run" / "ruvex-voice.lock";
    {
        app::SingleInstance first(file);
        EXPECT_TRUE(first.acquired());
        EXPECT_FALSE(app::SingleInstance(file).acquired());
        // Another process is refused too.
        const pid_t child = fork();
        if (child == 0)
            _exit(app::SingleInstance(file).acquired() ? 0 : 3);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 3);
    }
    EXPECT_TRUE(app::SingleInstance(file).acquired());
}

TEST(ModelFolder, ReadyWhenEveryFileIsThereAndNeverDownloads) {
    testsupport::TempDir dir;
    speech::ModelFolder folder(dir.path(), {"tokens.txt", "encoder.int8.onnx"});
    std::vector<speech::ModelState> changes;
    folder.onChange = [&](const speech::ModelState& state) { changes.push_back(state); };
    EXPECT_EQ(folder.state(), speech::ModelState::missing());
    folder.download();
    EXPECT_EQ(changes,
              (std::vector{speech::ModelState::failed("в папке " + dir.path().string() + " нет файлов модели")}));
    testsupport::writeFile(dir / "tokens.txt", "a 0\n");
    EXPECT_FALSE(folder.verify());
    testsupport::writeFile(dir / "encoder.int8.onnx", "not checked");
    EXPECT_TRUE(folder.verify());
    folder.download();
    EXPECT_EQ(changes.back(), speech::ModelState::ready());
}
