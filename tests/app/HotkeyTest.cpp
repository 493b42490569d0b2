#include "app/Hotkey.h"
#include "app/SingleInstance.h"

#include "fakes/FakeKeyMonitor.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

using app::Hotkey;
using app::TriggerKey;

namespace {

class HotkeyTest : public testing::Test {
protected:
    HotkeyTest() {
        hotkey.onPress = [this] { events += std::string(" press") + (hotkey.down() ? "+down" : ""); };
        hotkey.onRelease = [this] { events += std::string(" release") + (hotkey.down() ? "+down" : ""); };
        hotkey.onInterrupt = [this] { events += std::string(" interrupt") + (hotkey.down() ? "+down" : ""); };
        hotkey.start();
    }
    /// Types `keys` ("R+" right Alt down, "W-" right Super up; L left Alt, S Shift, a and s letters) and
    /// returns the callbacks they gave, each with "+down" when `down` was set as it ran.
    std::string type(const std::string& keys) {
        static const std::map<char, std::pair<unsigned, bool>> codes = {{'R', {108, true}}, {'W', {134, true}},
                                                                        {'L', {64, true}},  {'S', {50, true}},
                                                                        {'a', {38, false}}, {'s', {39, false}}};
        events.clear();
        for (std::size_t i = 0; i + 1 < keys.size(); i += 3) {
            auto [code, modifier] = codes.at(keys[i]);
            monitor.send(code, keys[i + 1] == '+', modifier);
        }
        return events.empty() ? events : events.substr(1);
    }
    fakes::FakeKeyMonitor monitor;
    Hotkey hotkey{monitor, TriggerKey::rightOption};
    std::string events;
};

} // namespace

TEST_F(HotkeyTest, PressReleaseAndInterruptFollowTheRules) {
    const std::pair<const char*, const char*> cases[] = {
        {"R- R+ R+ R- R- R+ R-", "press+down release press+down release"}, // repeats and a stray release
        {"a+ a- R+ a+ a+ s+ a- R-", "press+down interrupt"},               // once, and the release is silent
        {"R+ S+ S- R-", "press+down interrupt"},                           // a modifier going down
        {"S+ R+ S- R-", "press+down interrupt"},                           // or up: a shortcut in the making
        {"a+ R+ a- R-", "press+down release"},                             // an ordinary key going up
        {"L+ L- W+ W-", ""},                                               // only the chosen right-hand key
    };
    for (const auto& [keys, expected] : cases)
        EXPECT_EQ(type(keys), expected) << keys;

    hotkey.setKey(TriggerKey::rightCommand);
    EXPECT_EQ(type("R+ R- W+ W-"), "press+down release");
    // Changing the key or stopping drops a hold silently.
    EXPECT_EQ(type("W+"), "press+down");
    hotkey.setKey(TriggerKey::rightOption);
    EXPECT_FALSE(hotkey.down());
    EXPECT_EQ(type("a+ W- R+"), "press+down");
    hotkey.stop();
    EXPECT_FALSE(hotkey.down());
    EXPECT_EQ(type("R-"), "");

    // Starting again restarts the one monitor (stopping it first), ends a hold and says when it failed.
    const int stops = monitor.stops;
    EXPECT_TRUE(hotkey.start());
    EXPECT_EQ(type("R+"), "press+down");
    EXPECT_TRUE(hotkey.start());
    EXPECT_EQ(monitor.stops, stops + 2);
    EXPECT_FALSE(hotkey.down());
    monitor.startResult = false;
    EXPECT_FALSE(hotkey.start());
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

    // A folder another user controls (or one open to everyone), with a lock file of theirs that they
    // hold, cannot keep the program from starting; still one copy at a time.
    const auto shared = home.path() / "tmp" / "ruvex-voice-1000";
    std::filesystem::create_directories(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    }
    const int theirs = ::open((shared / "ruvex-voice.lock").c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_EQ(::flock(theirs, LOCK_EX | LOCK_NB), 0);
    app::SingleInstance mine(shared / "ruvex-voice.lock");
    EXPECT_TRUE(mine.acquired());
    EXPECT_FALSE(app::SingleInstance(shared / "ruvex-voice.lock").acquired());
    ::close(theirs);
}
