// The paste keys on a real compositor (sway through the rig): our own virtual keyboard into a native
// Wayland Qt field, which reports each key with its modifiers.
#include "core/RunLoop.h"
#include "platform/wayland/VirtualKeyboardKeySender.h"
#include "support/WaylandDesktop.h"

#include <gtest/gtest.h>

namespace {

using namespace wayland_desktop;
using platform::KeySender;
using platform::PasteShortcut;

class WaylandKeys : public testing::Test {
protected:
    void SetUp() override {
        if (auto why = missing("sway")) {
            GTEST_SKIP() << *why;
        }
        setPump([this](double seconds) { loop.runFor(seconds); });
    }
    void TearDown() override { setPump(nullptr); }

    KeySender::Result send(KeySender& keys, PasteShortcut shortcut) {
        std::optional<KeySender::Result> result;
        keys.sendPaste(shortcut, [&](KeySender::Result given) { result = given; });
        EXPECT_TRUE(pumpUntil([&] { return result.has_value(); }));
        return result.value_or(KeySender::Result::failed);
    }

    core::RunLoop loop;
};

TEST_F(WaylandKeys, EachShortcutReachesTheFieldWithItsModifiersFromTheVeryFirstKey) {
    TextTarget target;
    ASSERT_TRUE(target.focused());
    auto owner = Program({"wl-copy", "--foreground", "ВСТАВКА"});
    ASSERT_TRUE(pumpUntil([] { return pasted("text/plain") == "ВСТАВКА"; }));

    // A sender made just now: its first key must not be lost (the keymap is in place before it).
    platform::wayland::VirtualKeyboardKeySender keys(loop, [] { return 0; });
    ASSERT_TRUE(keys.usable());
    EXPECT_EQ(send(keys, PasteShortcut::controlV), KeySender::Result::sent);
    EXPECT_EQ(target.program().waitForLine([](const std::string& line) { return line == "key 55 C"; }), "key 55 C");
    EXPECT_EQ(target.waitForText("ВСТАВКА"), "ВСТАВКА");

    // Our keymap's codes are the evdev ones + 8, whatever layout the user has.
    const std::pair<PasteShortcut, std::string> sent[] = {
        {PasteShortcut::controlShiftV, "key 55 CS"},
        {PasteShortcut::shiftInsert, "key 118 S"},
    };
    for (const auto& [shortcut, expected] : sent) {
        EXPECT_EQ(send(keys, shortcut), KeySender::Result::sent);
        EXPECT_EQ(target.program().waitForLine([&](const std::string& line) { return line == expected; }), expected);
    }
}

TEST_F(WaylandKeys, AHeldModifierHoldsThePasteBackUntilReleasedOrReportsIt) {
    TextTarget target;
    ASSERT_TRUE(target.focused());
    int held = 1;
    platform::wayland::VirtualKeyboardKeySender keys(loop, [&] { return held; });
    // Still held when the wait is over: sent all the same, and said so.
    EXPECT_EQ(send(keys, PasteShortcut::controlV), KeySender::Result::sentWithModifier);
    EXPECT_TRUE(target.program().waitForLine([](const std::string& line) { return line == "key 55 C"; }));

    // Let go during the wait: the keys follow the release.
    std::optional<KeySender::Result> result;
    keys.sendPaste(PasteShortcut::controlV, [&](KeySender::Result given) { result = given; });
    loop.runFor(0.05);
    EXPECT_FALSE(result.has_value());
    held = 0;
    ASSERT_TRUE(pumpUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, KeySender::Result::sent);
}

} // namespace
