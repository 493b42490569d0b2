// The uinput paste sender: the device set-up and the exact event sequence, recorded through a pipe
// standing in for /dev/uinput, and the real device where this machine has one.
#include "platform/linux/UinputKeySender.h"
#include "core/RunLoop.h"
#include "fakes/FakeInputDevices.h"
#include "platform/linux/InputAccess.h"
#include "platform/linux/ModifierWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>

using platform::KeySender;
using platform::PasteShortcut;
using platform::lnx::UinputKeySender;
using Result = platform::KeySender::Result;

namespace {

// What the sender wrote: "+29" a press, "-29" a release, "|" an EV_SYN report.
std::string written(fakes::FakeInputDevices& devices) {
    std::string line;
    input_event event;
    while (read(devices.uinput[0], &event, sizeof event) == static_cast<ssize_t>(sizeof event))
        line += event.type == EV_SYN ? "|" : (event.value ? "+" : "-") + std::to_string(event.code);
    return line;
}

struct Harness {
    core::RunLoop loop;
    std::shared_ptr<fakes::FakeInputDevices> devices = std::make_shared<fakes::FakeInputDevices>();
    std::mutex mutex;
    std::vector<double> pauses;
    std::function<void(double)> pause = [this](double seconds) {
        std::lock_guard lock(mutex);
        pauses.push_back(seconds);
    };

    std::optional<Result> paste(KeySender& sender, PasteShortcut shortcut = PasteShortcut::controlV) {
        std::optional<Result> result;
        sender.sendPaste(shortcut, [&](Result got) { result = got; });
        EXPECT_FALSE(result) << "done must not run inside sendPaste";
        loop.runUntil([&] { return result.has_value(); }, 0.01);
        return result;
    }
    std::vector<double> takePauses() {
        std::lock_guard lock(mutex);
        return std::exchange(pauses, {});
    }
};

} // namespace

TEST(UinputKeySender, OneDeviceDeclaringOnlyItsKeysAndEachKeyInAReportOfItsOwnAfterAGap) {
    Harness h;
    {
        UinputKeySender sender(h.loop, {}, h.devices, "/dev/uinput", h.pause);
        EXPECT_EQ(h.paste(sender), Result::sent);
        const double gap = UinputKeySender::gapSeconds;
        // The new device settles before its first key.
        EXPECT_EQ(h.takePauses(), (std::vector<double>{UinputKeySender::settleSeconds, gap, gap, gap}));
        EXPECT_EQ(written(*h.devices), "+29|+47|-47|-29|");
        EXPECT_EQ(h.paste(sender, PasteShortcut::controlShiftV), Result::sent);
        EXPECT_EQ(written(*h.devices), "+29|+42|+47|-47|-42|-29|");
        EXPECT_EQ(h.paste(sender, PasteShortcut::shiftInsert), Result::sent);
        EXPECT_EQ(written(*h.devices), "+42|+110|-110|-42|");
        // Its keys are read in the user's layouts: where none has a Latin V, only Shift+Insert pastes.
        for (std::optional<bool> latin : {std::optional<bool>(), std::optional(true), std::optional(false)}) {
            sender.latinV = [latin] { return latin; };
            EXPECT_EQ(sender.reachable(PasteShortcut::controlShiftV),
                      latin == false ? PasteShortcut::shiftInsert : PasteShortcut::controlShiftV);
        }
    }
    std::lock_guard lock(h.devices->mutex);
    EXPECT_EQ(h.devices->uinputOpens, 1);
    EXPECT_STREQ(h.devices->setup.name, platform::lnx::ownKeyboardName);
    EXPECT_EQ(h.devices->requests, (std::vector<std::pair<unsigned long, unsigned long>>{{UI_SET_EVBIT, EV_KEY},
                                                                                         {UI_SET_KEYBIT, KEY_LEFTCTRL},
                                                                                         {UI_SET_KEYBIT, KEY_LEFTSHIFT},
                                                                                         {UI_SET_KEYBIT, KEY_V},
                                                                                         {UI_SET_KEYBIT, KEY_INSERT},
                                                                                         {UI_DEV_SETUP, 0},
                                                                                         {UI_DEV_CREATE, 0},
                                                                                         {UI_DEV_DESTROY, 0}}));
}

TEST(UinputKeySender, WaitsForTheUsersModifiersAndReportsASendThatDidNotHappen) {
    Harness h;
    std::atomic<int> held{1}, looks{0};
    auto modifiers = [&] { return ++looks >= 3 ? 0 : held.load(); }; // let go after the third look
    UinputKeySender sender(h.loop, modifiers, h.devices, "/dev/uinput", h.pause);
    EXPECT_EQ(h.paste(sender), Result::sent);
    EXPECT_EQ(written(*h.devices), "+29|+47|-47|-29|");

    // Held for good: sent after the bounded wait, and said so.
    looks = -1000;
    h.takePauses();
    EXPECT_EQ(h.paste(sender), Result::sentWithModifier);
    const auto waited = h.takePauses();
    EXPECT_EQ(std::count(waited.begin(), waited.end(), platform::lnx::modifierPollSeconds),
              static_cast<long>(KeySender::modifierWaitSeconds / platform::lnx::modifierPollSeconds));

    // The device stopped taking events (a pipe's reader gone raises SIGPIPE; a device does not):
    // failed, and the next paste makes a new device.
    held = 0;
    signal(SIGPIPE, SIG_IGN);
    close(h.devices->uinput[0]);
    EXPECT_EQ(h.paste(sender), Result::failed);
    EXPECT_EQ(h.paste(sender), Result::sent);
    EXPECT_EQ(h.devices->uinputOpens, 2);

    h.devices->uinputError = -EACCES;
    UinputKeySender refused(h.loop, {}, h.devices, "/dev/uinput", h.pause);
    EXPECT_EQ(h.paste(refused), Result::failed);
}

// Only where /dev/uinput is writable (CI has no uinput). No key is sent: it would land in whatever
// window has the focus; the device is looked for among the kernel's input devices.
TEST(UinputKeySender, MakesARealVirtualKeyboardForItsLife) {
    platform::lnx::SystemInputDevices system;
    if (platform::lnx::checkUinput(system) != platform::lnx::UinputAccess::writable)
        GTEST_SKIP() << "/dev/uinput is not writable here";
    auto listed = [] {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/sys/class/input", error)) {
            std::string name;
            if (std::getline(std::ifstream(entry.path() / "name"), name) && name == platform::lnx::ownKeyboardName)
                return true;
        }
        return false;
    };
    core::RunLoop loop;
    {
        UinputKeySender sender(loop);
        loop.runFor(UinputKeySender::settleSeconds * 2);
        EXPECT_TRUE(listed());
    }
    EXPECT_FALSE(listed());
}
