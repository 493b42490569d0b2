// The uinput paste sender: the exact device set-up and event sequence, recorded through a pipe that
// stands in for /dev/uinput, and on the real device where this machine has one.
#include "platform/linux/UinputKeySender.h"
#include "core/RunLoop.h"
#include "fakes/FakeInputDevices.h"
#include "platform/linux/InputAccess.h"
#include "platform/linux/ModifierWait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>

using platform::KeySender;
using platform::PasteShortcut;
using platform::lnx::UinputKeySender;

namespace {

// What the sender wrote, one line per event: "+29" a press, "-29" a release, "|" an EV_SYN report.
std::string written(int fd) {
    std::string line;
    input_event event;
    while (read(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
        if (event.type == EV_SYN && event.code == SYN_REPORT)
            line += "|";
        else if (event.type == EV_KEY)
            line += (event.value ? "+" : "-") + std::to_string(event.code);
        else
            line += "?";
    }
    return line;
}

struct Pauses {
    std::mutex mutex;
    std::vector<double> seen;
    std::function<void(double)> hook() {
        return [this](double seconds) {
            std::lock_guard lock(mutex);
            seen.push_back(seconds);
        };
    }
    std::vector<double> take() {
        std::lock_guard lock(mutex);
        return std::exchange(seen, {});
    }
};

std::optional<KeySender::Result> paste(core::RunLoop& loop, KeySender& sender, PasteShortcut shortcut) {
    std::optional<KeySender::Result> result;
    sender.sendPaste(shortcut, [&](KeySender::Result got) { result = got; });
    EXPECT_FALSE(result) << "done must not run inside sendPaste";
    loop.runUntil([&] { return result.has_value(); }, 0.01);
    return result;
}

} // namespace

TEST(UinputKeySender, OneDeviceDeclaringOnlyItsKeysAndEachKeyInItsOwnReportWithGaps) {
    core::RunLoop loop;
    auto devices = std::make_shared<fakes::FakeInputDevices>();
    Pauses pauses;
    {
        UinputKeySender sender(loop, {}, devices, "/dev/uinput", pauses.hook());
        EXPECT_EQ(paste(loop, sender, PasteShortcut::controlV), KeySender::Result::sent);
        // Created once, then a settling pause before the first key; then a gap between keys.
        EXPECT_EQ(pauses.take(), (std::vector<double>{UinputKeySender::settleSeconds, UinputKeySender::gapSeconds,
                                                      UinputKeySender::gapSeconds, UinputKeySender::gapSeconds}));
        EXPECT_EQ(written(devices->uinputOutput()), "+29|+47|-47|-29|");
        EXPECT_EQ(paste(loop, sender, PasteShortcut::controlShiftV), KeySender::Result::sent);
        EXPECT_EQ(written(devices->uinputOutput()), "+29|+42|+47|-47|-42|-29|");
        EXPECT_EQ(paste(loop, sender, PasteShortcut::shiftInsert), KeySender::Result::sent);
        EXPECT_EQ(written(devices->uinputOutput()), "+42|+110|-110|-42|");
        EXPECT_EQ(pauses.take().size(), 5u + 3u);
        EXPECT_EQ(devices->uinputOpens(), 1);

        const uinput_setup setup = devices->uinputSetup();
        EXPECT_STREQ(setup.name, platform::lnx::ownKeyboardName);
        EXPECT_EQ(setup.id.bustype, BUS_VIRTUAL);
    }
    std::vector<unsigned long> keybits;
    std::vector<unsigned long> order;
    for (const auto& request : devices->uinputRequests()) {
        if (request.request == UI_SET_KEYBIT)
            keybits.push_back(request.value);
        else
            order.push_back(request.request);
    }
    EXPECT_EQ(keybits, (std::vector<unsigned long>{KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_V, KEY_INSERT}));
    EXPECT_EQ(order, (std::vector<unsigned long>{UI_SET_EVBIT, UI_DEV_SETUP, UI_DEV_CREATE, UI_DEV_DESTROY}));
}

TEST(UinputKeySender, WaitsForTheUsersModifiersAndReportsASendThatDidNotHappen) {
    core::RunLoop loop;
    auto devices = std::make_shared<fakes::FakeInputDevices>();
    Pauses pauses;
    std::atomic<int> held{1};
    std::atomic<int> looks{0};
    UinputKeySender sender(
        loop,
        [&] {
            // The user lets go after the third look.
            if (++looks == 3)
                held = 0;
            return held.load();
        },
        devices, "/dev/uinput", pauses.hook());
    EXPECT_EQ(paste(loop, sender, PasteShortcut::controlV), KeySender::Result::sent);
    EXPECT_EQ(written(devices->uinputOutput()), "+29|+47|-47|-29|");
    pauses.take();

    // Held for good: sent after the bounded wait, and said so.
    held = 5;
    looks = -1000;
    EXPECT_EQ(paste(loop, sender, PasteShortcut::controlV), KeySender::Result::sentWithModifier);
    const auto waited = pauses.take();
    EXPECT_EQ(std::count(waited.begin(), waited.end(), platform::lnx::modifierPollSeconds),
              static_cast<long>(KeySender::modifierWaitSeconds / platform::lnx::modifierPollSeconds));

    // The device went away (its node closed under us): failed, and the next paste makes a new one.
    // (A pipe's reader going away raises SIGPIPE, which a real device never does.)
    held = 0;
    signal(SIGPIPE, SIG_IGN);
    devices->breakUinput();
    EXPECT_EQ(paste(loop, sender, PasteShortcut::controlV), KeySender::Result::failed);
    EXPECT_EQ(paste(loop, sender, PasteShortcut::controlV), KeySender::Result::sent);
    EXPECT_EQ(devices->uinputOpens(), 2);

    // No access to /dev/uinput at all.
    auto refused = std::make_shared<fakes::FakeInputDevices>();
    refused->setUinputError(-EACCES);
    UinputKeySender denied(loop, {}, refused, "/dev/uinput", pauses.hook());
    EXPECT_EQ(paste(loop, denied, PasteShortcut::controlV), KeySender::Result::failed);
}

namespace {

bool ownDeviceListed() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/input", error)) {
        std::ifstream name(entry.path() / "name");
        std::string line;
        if (std::getline(name, line) && line == platform::lnx::ownKeyboardName)
            return true;
    }
    return false;
}

} // namespace

// Only where /dev/uinput is writable (a developer's machine with the opt-in rule; CI has no uinput).
// No key is sent: they would land in whatever window has the focus.
TEST(UinputKeySender, MakesARealVirtualKeyboardForItsLife) {
    platform::lnx::SystemInputDevices system;
    if (platform::lnx::checkUinput(system) != platform::lnx::UinputAccess::writable)
        GTEST_SKIP() << "/dev/uinput is not writable here";
    ASSERT_FALSE(ownDeviceListed());
    core::RunLoop loop;
    {
        UinputKeySender sender(loop);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        loop.runUntil([&] { return ownDeviceListed() || std::chrono::steady_clock::now() > limit; }, 0.02);
        EXPECT_TRUE(ownDeviceListed());
    }
    EXPECT_FALSE(ownDeviceListed());
}
