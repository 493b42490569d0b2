// The trigger key from the kernel's event devices: the decoder on record streams, the monitor on
// pipes standing in for /dev/input (and on a real FIFO), and the keyboard access check.
#include "app/Hotkey.h"
#include "core/RunLoop.h"
#include "fakes/FakeInputDevices.h"
#include "platform/linux/EvdevDecoder.h"
#include "platform/linux/EvdevKeyMonitor.h"
#include "platform/linux/InputAccess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <sys/stat.h>

using platform::KeyAccess;
using platform::KeyEvent;
using platform::lnx::EvdevDecoder;
using platform::lnx::EvdevKeyMonitor;

namespace {

constexpr unsigned rightAlt = KEY_RIGHTALT + 8, rightSuper = KEY_RIGHTMETA + 8;

input_event record(unsigned short type, unsigned short code, int value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return event;
}
input_event key(unsigned short code, int value) {
    return record(EV_KEY, code, value);
}
input_event report() {
    return record(EV_SYN, SYN_REPORT, 0);
}

std::vector<KeyEvent> decode(EvdevDecoder& decoder, std::initializer_list<input_event> records) {
    std::vector<KeyEvent> out;
    for (const input_event& event : records)
        decoder.feed(event, out);
    return out;
}

void send(int fd, std::initializer_list<input_event> records) {
    for (const input_event& event : records)
        ASSERT_EQ(write(fd, &event, sizeof event), static_cast<ssize_t>(sizeof event));
}

// Runs the loop until `done`; the bound only keeps a broken build from hanging the suite.
bool runUntil(core::RunLoop& loop, const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    loop.runUntil([&] { return done() || std::chrono::steady_clock::now() > limit; }, 0.01);
    return done();
}

struct Recorder {
    std::vector<std::string> calls;
    void wire(app::Hotkey& hotkey) {
        hotkey.onPress = [this] { calls.push_back("press"); };
        hotkey.onRelease = [this] { calls.push_back("release"); };
        hotkey.onInterrupt = [this] { calls.push_back("interrupt"); };
    }
};

} // namespace

TEST(EvdevDecoder, TriggersKeepTheirCodeOtherKeysLeaveAsSomeKeyRepeatsAndButtonsNothing) {
    EvdevDecoder decoder;
    EXPECT_EQ(decode(decoder, {key(KEY_RIGHTALT, 1), report(), key(KEY_RIGHTALT, 2), key(KEY_RIGHTALT, 2),
                               key(KEY_A, 1), key(KEY_A, 2), key(KEY_A, 0), key(BTN_LEFT, 1), key(BTN_LEFT, 0),
                               key(KEY_LEFTSHIFT, 1), key(KEY_RIGHTALT, 0), key(KEY_RIGHTMETA, 1)}),
              (std::vector<KeyEvent>{{rightAlt, true, true},
                                     {0, true, false},
                                     {0, false, false},
                                     {0, true, true},
                                     {rightAlt, false, true},
                                     {rightSuper, true, true}}));
    EXPECT_EQ(decoder.heldModifiers(), 2); // left Shift and right Super
}

// Whatever arrives, in whatever order, with gaps and vanished devices: nothing but 0 leaves the reader,
// except the two trigger codes when the trigger keys themselves were pressed.
TEST(EvdevDecoder, NoOtherKeyCodeEverLeaves) {
    std::mt19937 random(7);
    for (bool withTriggers : {false, true}) {
        std::vector<KeyEvent> out;
        EvdevDecoder decoder;
        auto pick = [&](unsigned code) {
            return !withTriggers && EvdevDecoder::isTrigger(code) ? static_cast<unsigned>(KEY_A) : code;
        };
        for (int round = 0; round < 20; ++round) {
            for (unsigned code = 0; code < KEY_CNT; ++code) {
                const unsigned other = pick(random() % KEY_CNT);
                decoder.feed(key(static_cast<unsigned short>(pick(code)), static_cast<int>(random() % 3)), out);
                decoder.feed(key(static_cast<unsigned short>(other), static_cast<int>(random() % 3)), out);
                if (random() % 50 == 0)
                    decoder.feed(record(EV_SYN, SYN_DROPPED, 0), out);
                decoder.feed(report(), out);
                if (decoder.needsResync())
                    decoder.resync(EvdevDecoder::KeyState().set(pick(code)).set(other), out);
            }
            decoder.vanish(out);
        }
        for (const KeyEvent& event : out) {
            ASSERT_TRUE(event.keycode == 0 ||
                        (withTriggers && (event.keycode == rightAlt || event.keycode == rightSuper)))
                << "a key code left the reader";
        }
    }
}

TEST(EvdevDecoder, AGapInTheStreamEndsInTheKeysReallyHeld) {
    EvdevDecoder decoder;
    decode(decoder, {key(KEY_RIGHTALT, 1), key(KEY_LEFTCTRL, 1), report()});
    // What comes between SYN_DROPPED and the end of its report is incomplete: dropped.
    EXPECT_TRUE(decode(decoder, {record(EV_SYN, SYN_DROPPED, 0), key(KEY_RIGHTALT, 0), key(KEY_Z, 1)}).empty());
    EXPECT_FALSE(decoder.needsResync());
    EXPECT_TRUE(decode(decoder, {report(), key(KEY_B, 1)}).empty());
    ASSERT_TRUE(decoder.needsResync());
    std::vector<KeyEvent> out;
    decoder.resync(EvdevDecoder::KeyState().set(KEY_LEFTCTRL).set(KEY_Z), out);
    EXPECT_EQ(out, (std::vector<KeyEvent>{{rightAlt, false, true}, {0, true, false}}));
    // Keys held when a device was opened are known, so their release is not a surprise.
    EvdevDecoder opened;
    opened.assume(EvdevDecoder::KeyState().set(KEY_LEFTSHIFT).set(BTN_LEFT));
    EXPECT_EQ(opened.heldModifiers(), 1);
    out.clear();
    opened.vanish(out);
    EXPECT_EQ(out, (std::vector<KeyEvent>{{0, false, true}}));
}

TEST(EvdevKeyMonitor, ReadsOnlyKeyboardsWithTheTriggerKeysAndFollowsHotPlug) {
    core::RunLoop loop;
    auto devices = std::make_shared<fakes::FakeInputDevices>();
    const int keyboard = devices->addKeyboard("/dev/input/event0");
    const int mouse = devices->addKeyboard("/dev/input/event1", "USB Mouse", {BTN_LEFT, BTN_RIGHT});
    const int own = devices->addKeyboard("/dev/input/event2", platform::lnx::ownKeyboardName,
                                         {KEY_LEFTCTRL, KEY_RIGHTALT, KEY_V, KEY_INSERT});
    devices->addRefused("/dev/input/event3", EACCES);
    devices->addKeyboard("/dev/input/mouse0");
    EvdevKeyMonitor monitor(loop, {}, devices);
    std::vector<KeyEvent> seen;
    monitor.onKey = [&](KeyEvent event) { seen.push_back(event); };
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(monitor.deviceCount(), 1);
    EXPECT_EQ(devices->opens("/dev/input/mouse0"), 0);

    send(own, {key(KEY_RIGHTALT, 1), report()});
    send(mouse, {key(BTN_LEFT, 1), report()});
    send(keyboard, {key(KEY_RIGHTMETA, 1), report(), key(KEY_RIGHTMETA, 0), report()});
    ASSERT_TRUE(runUntil(loop, [&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen, (std::vector<KeyEvent>{{rightSuper, true, true}, {rightSuper, false, true}}));

    // A keyboard plugged in later, whose node only became readable after udev's change.
    devices->addRefused("/dev/input/event4", EACCES);
    devices->poke();
    const int late = devices->addKeyboard("/dev/input/event4");
    devices->poke();
    ASSERT_TRUE(runUntil(loop, [&] { return monitor.deviceCount() == 2; }));
    send(late, {key(KEY_RIGHTALT, 1), report()});
    ASSERT_TRUE(runUntil(loop, [&] { return seen.size() == 3; }));
    EXPECT_EQ(seen.back(), (KeyEvent{rightAlt, true, true}));
    EXPECT_EQ(monitor.heldModifiers(), 1);

    monitor.stop();
    EXPECT_EQ(monitor.deviceCount(), 0);
    EXPECT_EQ(monitor.heldModifiers(), 0);
}

TEST(EvdevKeyMonitor, AHoldEndsExactlyOnceAfterAGapOrAVanishedKeyboard) {
    core::RunLoop loop;
    auto devices = std::make_shared<fakes::FakeInputDevices>();
    const int keyboard = devices->addKeyboard("/dev/input/event0");
    EvdevKeyMonitor monitor(loop, {}, devices);
    app::Hotkey hotkey(monitor, app::TriggerKey::rightOption);
    Recorder recorder;
    recorder.wire(hotkey);
    ASSERT_TRUE(hotkey.start());

    // Release lost in a gap: the real state (nothing held) ends the hold.
    send(keyboard, {key(KEY_RIGHTALT, 1), report(), record(EV_SYN, SYN_DROPPED, 0), key(KEY_RIGHTALT, 0), report()});
    ASSERT_TRUE(runUntil(loop, [&] { return recorder.calls.size() == 2; }));
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"press", "release"}));

    // Unplugged while held, with Shift held since before: one release, nothing after it.
    recorder.calls.clear();
    send(keyboard, {key(KEY_LEFTSHIFT, 1), report()});
    ASSERT_TRUE(runUntil(loop, [&] { return monitor.heldModifiers() == 1; }));
    send(keyboard, {key(KEY_RIGHTALT, 1), report()});
    ASSERT_TRUE(runUntil(loop, [&] { return recorder.calls.size() == 1; }));
    devices->remove("/dev/input/event0");
    devices->unplug(keyboard);
    ASSERT_TRUE(runUntil(loop, [&] { return monitor.deviceCount() == 0; }));
    loop.runFor(EvdevKeyMonitor::rescanDelay * 2);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"press", "release"}));
    EXPECT_EQ(monitor.heldModifiers(), 0);
}

// RUVEX_VOICE_INPUT_DEVICE with a FIFO, as the end-to-end tests drive the program: one writer per
// record, and a writer going away is not a keyboard going away.
TEST(EvdevKeyMonitor, ReadsTheChosenFifoAcrossWriters) {
    testsupport::TempDir dir;
    const std::string fifo = (dir.path() / "keys").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    core::RunLoop loop;
    platform::lnx::InputSource source;
    source.device = fifo;
    EvdevKeyMonitor monitor(loop, source);
    app::Hotkey hotkey(monitor, app::TriggerKey::rightCommand);
    Recorder recorder;
    recorder.wire(hotkey);
    ASSERT_TRUE(hotkey.start());
    for (int value : {1, 0}) {
        const int writer = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(writer, 0);
        send(writer, {key(KEY_RIGHTMETA, value), report()});
        close(writer);
        ASSERT_TRUE(runUntil(loop, [&] { return recorder.calls.size() == (value ? 1u : 2u); }));
    }
    loop.runFor(EvdevKeyMonitor::rescanDelay * 2);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"press", "release"}));
}

TEST(KeyboardAccess, TellsReadyDeniedReloginAndNoDevicesApart) {
    using platform::lnx::checkKeyboardAccess;
    using platform::lnx::GroupFacts;
    fakes::FakeInputDevices devices;
    const platform::lnx::InputSource source;
    const GroupFacts stranger{"anna", false, false};
    const GroupFacts joinedLater{"anna", true, false};
    const GroupFacts member{"anna", true, true};

    devices.listedDirectory = "/nonexistent";
    EXPECT_EQ(checkKeyboardAccess(devices, source, stranger), KeyAccess::noDevices);
    devices.listedDirectory = "/dev/input";
    EXPECT_EQ(checkKeyboardAccess(devices, source, stranger), KeyAccess::noDevices);
    devices.addKeyboard("/dev/input/event1", "Power Button", {KEY_POWER});
    EXPECT_EQ(checkKeyboardAccess(devices, source, stranger), KeyAccess::noDevices);

    devices.addRefused("/dev/input/event2", EACCES);
    devices.addRefused("/dev/input/event3", EPERM);
    EXPECT_EQ(checkKeyboardAccess(devices, source, stranger), KeyAccess::denied);
    EXPECT_EQ(checkKeyboardAccess(devices, source, member), KeyAccess::denied);
    EXPECT_EQ(checkKeyboardAccess(devices, source, joinedLater), KeyAccess::relogin);
    EXPECT_EQ(platform::lnx::joinCommand(stranger), "sudo usermod -aG input anna");

    devices.addKeyboard("/dev/input/event4");
    EXPECT_EQ(checkKeyboardAccess(devices, source, stranger), KeyAccess::ready);

    platform::lnx::InputSource chosen;
    chosen.device = "/tmp/keys";
    EXPECT_EQ(checkKeyboardAccess(devices, chosen, stranger), KeyAccess::noDevices);
    devices.addRefused("/tmp/keys", EACCES);
    EXPECT_EQ(checkKeyboardAccess(devices, chosen, stranger), KeyAccess::denied);

    using platform::lnx::UinputAccess;
    EXPECT_EQ(platform::lnx::checkUinput(devices), UinputAccess::writable);
    devices.setUinputError(-EACCES);
    EXPECT_EQ(platform::lnx::checkUinput(devices), UinputAccess::denied);
    devices.setUinputError(-ENODEV);
    EXPECT_EQ(platform::lnx::checkUinput(devices), UinputAccess::missing);
}

// The trust the windows poll: the running monitor's keyboards settle it; otherwise the check runs,
// and a refusal comes with the command for this user.
TEST(KeyboardAccess, TrustWordsTheStateAndAsksTheMonitorFirst) {
    core::RunLoop loop;
    auto devices = std::make_shared<fakes::FakeInputDevices>();
    devices->addRefused("/dev/input/event0", EACCES);
    const platform::lnx::InputSource source;
    EvdevKeyMonitor monitor(loop, source, devices);
    platform::lnx::EvdevTrust trust([] { return platform::PasteAccess::askFirst; }, &monitor, source, devices,
                                    [] {
                                        return platform::lnx::GroupFacts{"boris", false, false};
                                    });
    EXPECT_FALSE(trust.isTrusted());
    EXPECT_EQ(trust.access(),
              (platform::Access{KeyAccess::denied, platform::PasteAccess::askFirst, "sudo usermod -aG input boris"}));

    devices->addKeyboard("/dev/input/event1");
    ASSERT_TRUE(monitor.start());
    const int opensBefore = devices->opens("/dev/input/event0");
    EXPECT_TRUE(trust.isTrusted());
    EXPECT_EQ(devices->opens("/dev/input/event0"), opensBefore);
}
