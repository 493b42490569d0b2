// The trigger key from the kernel's event devices: the decoder on record streams, the monitor on
// pipes standing in for /dev/input, and the keyboard access check. (The program reading a FIFO named
// by RUVEX_VOICE_INPUT_DEVICE is the Wayland end-to-end scenario.)
#include "app/Hotkey.h"
#include "core/RunLoop.h"
#include "fakes/FakeInputDevices.h"
#include "platform/linux/EvdevDecoder.h"
#include "platform/linux/EvdevKeyMonitor.h"
#include "platform/linux/InputAccess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

using platform::KeyAccess;
using platform::KeyEvent;
using platform::lnx::EvdevDecoder;
using platform::lnx::EvdevKeyMonitor;
using Events = std::vector<KeyEvent>;
using Calls = std::vector<std::string>;

namespace {

constexpr unsigned rightAlt = KEY_RIGHTALT + 8, rightSuper = KEY_RIGHTMETA + 8;

input_event key(unsigned code, int value, unsigned short type = EV_KEY) {
    input_event event{};
    event.type = type;
    event.code = static_cast<unsigned short>(code);
    event.value = value;
    return event;
}
const input_event report = key(SYN_REPORT, 0, EV_SYN), dropped = key(SYN_DROPPED, 0, EV_SYN);

Events decode(EvdevDecoder& decoder, std::initializer_list<input_event> records) {
    Events out;
    for (const input_event& event : records)
        decoder.feed(event, out);
    return out;
}

void send(int fd, std::vector<input_event> records) {
    ASSERT_EQ(write(fd, records.data(), records.size() * sizeof(input_event)),
              static_cast<ssize_t>(records.size() * sizeof(input_event)));
}

// Runs the loop until `done`; the bound only keeps a broken build from hanging the suite.
bool runUntil(core::RunLoop& loop, const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    loop.runUntil([&] { return done() || std::chrono::steady_clock::now() > limit; }, 0.01);
    return done();
}

} // namespace

TEST(EvdevDecoder, TriggersKeepTheirCodeOtherKeysLeaveAsSomeKeyRepeatsAndButtonsNothing) {
    EvdevDecoder decoder;
    EXPECT_EQ(decode(decoder,
                     {key(KEY_RIGHTALT, 1), report, key(KEY_RIGHTALT, 2), key(KEY_A, 1), key(KEY_A, 2), key(KEY_A, 0),
                      key(BTN_LEFT, 1), key(KEY_LEFTSHIFT, 1), key(KEY_RIGHTALT, 0), key(KEY_RIGHTMETA, 1)}),
              (Events{{rightAlt, true, true},
                      {0, true, false},
                      {0, false, false},
                      {0, true, true},
                      {rightAlt, false, true},
                      {rightSuper, true, true}}));
    EXPECT_EQ(decoder.heldModifiers(), 2);

    // A gap: what comes up to the end of the broken report is dropped, then the real state decides.
    EXPECT_TRUE(decode(decoder, {dropped, key(KEY_RIGHTMETA, 0), report, key(KEY_B, 1)}).empty());
    ASSERT_TRUE(decoder.needsResync());
    Events out;
    decoder.resync(EvdevDecoder::KeyState().set(KEY_LEFTSHIFT).set(KEY_Z), out);
    EXPECT_EQ(out, (Events{{rightSuper, false, true}, {0, true, false}}));
    // Gone: every held key released, each once.
    out.clear();
    decoder.vanish(out);
    EXPECT_EQ(out, (Events{{0, false, true}, {0, false, false}}));
}

// Whatever arrives, in whatever order, with gaps and vanished devices: nothing but 0 leaves the reader,
// except the two trigger codes when the trigger keys themselves were pressed.
TEST(EvdevDecoder, NoOtherKeyCodeEverLeaves) {
    std::mt19937 random(7);
    for (bool withTriggers : {false, true}) {
        Events out;
        EvdevDecoder decoder;
        auto pick = [&](unsigned code) { return !withTriggers && EvdevDecoder::isTrigger(code) ? KEY_A : code; };
        for (int round = 0; round < 20; ++round) {
            for (unsigned code = 0; code < KEY_CNT; ++code) {
                const unsigned other = pick(random() % KEY_CNT);
                decoder.feed(key(pick(code), static_cast<int>(random() % 3)), out);
                decoder.feed(key(other, static_cast<int>(random() % 3)), out);
                if (random() % 50 == 0)
                    decoder.feed(dropped, out);
                decoder.feed(report, out);
                if (decoder.needsResync())
                    decoder.resync(EvdevDecoder::KeyState().set(pick(code)).set(other), out);
            }
            decoder.vanish(out);
        }
        for (const KeyEvent& event : out)
            ASSERT_TRUE(event.keycode == 0 ||
                        (withTriggers && (event.keycode == rightAlt || event.keycode == rightSuper)));
    }
}

TEST(EvdevKeyMonitor, ReadsOnlyKeyboardsWithTheTriggerKeysFollowsHotPlugAndEndsAHoldExactlyOnce) {
    core::RunLoop loop;
    auto devices = std::make_shared<fakes::FakeInputDevices>();
    const int keyboard = devices->addKeyboard("/dev/input/event0");
    const int mouse = devices->addKeyboard("/dev/input/event1", {BTN_LEFT});
    const int own = devices->addKeyboard("/dev/input/event2", {KEY_RIGHTALT, KEY_V}, platform::lnx::ownKeyboardName);
    devices->addKeyboard("/dev/input/mouse0");
    devices->setError("/dev/input/event3", EACCES);
    devices->setHeld("/dev/input/event0", {KEY_LEFTSHIFT}); // since before the start
    EvdevKeyMonitor monitor(loop, {}, devices);
    app::Hotkey hotkey(monitor, app::TriggerKey::rightOption);
    Calls calls;
    hotkey.onPress = [&] { calls.push_back("press"); };
    hotkey.onRelease = [&] { calls.push_back("release"); };
    hotkey.onInterrupt = [&] { calls.push_back("interrupt"); };
    ASSERT_TRUE(hotkey.start());
    EXPECT_EQ(monitor.deviceCount(), 1);
    EXPECT_EQ(monitor.heldModifiers(), 1);
    EXPECT_EQ(devices->opens("/dev/input/mouse0"), 0);

    // Another program's keys on the program's own device and a mouse click do nothing; a release lost
    // in a gap still ends the hold (the real state: only Shift held).
    send(own, {key(KEY_RIGHTALT, 1), report});
    send(mouse, {key(BTN_LEFT, 1), report});
    send(keyboard, {key(KEY_RIGHTALT, 1), report, dropped, key(KEY_RIGHTALT, 0), report});
    ASSERT_TRUE(runUntil(loop, [&] { return calls.size() == 2; }));
    EXPECT_EQ(calls, (Calls{"press", "release"}));

    // A keyboard plugged in later, whose node became readable only after udev's change.
    devices->setError("/dev/input/event4", EACCES);
    devices->poke();
    const int late = devices->addKeyboard("/dev/input/event4");
    devices->poke();
    ASSERT_TRUE(runUntil(loop, [&] { return monitor.deviceCount() == 2; }));

    // The trigger pressed on the new keyboard, which is then unplugged (Shift still held on the other).
    send(late, {key(KEY_RIGHTALT, 1), report});
    ASSERT_TRUE(runUntil(loop, [&] { return calls.size() == 3; }));
    devices->setError("/dev/input/event4", ENODEV, false);
    close(late);
    ASSERT_TRUE(runUntil(loop, [&] { return monitor.deviceCount() == 1; }));
    loop.runFor(EvdevKeyMonitor::rescanDelay * 2);
    EXPECT_EQ(calls, (Calls{"press", "release", "press", "release"}));
    EXPECT_EQ(monitor.heldModifiers(), 1);
    monitor.stop();
    EXPECT_EQ(monitor.heldModifiers(), 0);
}

TEST(KeyboardAccess, TellsReadyDeniedReloginAndNoDevicesApart) {
    using platform::lnx::checkKeyboardAccess;
    core::RunLoop loop;
    auto devices = std::make_shared<fakes::FakeInputDevices>();
    const platform::lnx::InputSource source;
    const platform::lnx::GroupFacts stranger{"anna", false, false}, joinedLater{"anna", true, false},
        member{"anna", true, true};

    devices->directory = "/nonexistent";
    EXPECT_EQ(checkKeyboardAccess(*devices, source, stranger), KeyAccess::noDevices);
    devices->directory = "/dev/input";
    devices->addKeyboard("/dev/input/event1", {KEY_POWER});
    EXPECT_EQ(checkKeyboardAccess(*devices, source, stranger), KeyAccess::noDevices);
    devices->setError("/dev/input/event2", EACCES);
    devices->setError("/dev/input/event3", EPERM);
    EXPECT_EQ(checkKeyboardAccess(*devices, source, member), KeyAccess::denied);
    EXPECT_EQ(checkKeyboardAccess(*devices, source, joinedLater), KeyAccess::relogin);
    EXPECT_EQ(checkKeyboardAccess(*devices, {"/dev/input", "/tmp/keys"}, stranger), KeyAccess::noDevices);

    // The trust words it, with the command for this user, and the running monitor's keyboards
    // settle it without opening every device again.
    EvdevKeyMonitor monitor(loop, source, devices);
    platform::lnx::EvdevTrust trust([] { return platform::PasteAccess::askFirst; }, &monitor, source, devices,
                                    [&] { return stranger; });
    EXPECT_EQ(trust.access(),
              (platform::Access{KeyAccess::denied, platform::PasteAccess::askFirst, "sudo usermod -aG input anna"}));
    devices->addKeyboard("/dev/input/event4");
    EXPECT_EQ(checkKeyboardAccess(*devices, source, stranger), KeyAccess::ready);
    ASSERT_TRUE(monitor.start());
    const int opens = devices->opens("/dev/input/event2");
    EXPECT_TRUE(trust.isTrusted());
    EXPECT_EQ(devices->opens("/dev/input/event2"), opens);

    using platform::lnx::UinputAccess;
    EXPECT_EQ(platform::lnx::checkUinput(*devices), UinputAccess::writable);
    for (auto [error, access] : {std::pair{EACCES, UinputAccess::denied}, {ENODEV, UinputAccess::missing}}) {
        devices->uinputError = -error;
        EXPECT_EQ(platform::lnx::checkUinput(*devices), access);
    }
}
