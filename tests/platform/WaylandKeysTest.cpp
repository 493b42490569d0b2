// The paste keys on real compositors, into a native Wayland Qt field that reports each key with its
// modifiers: our own virtual keyboard on sway, KWin's fake input on KWin (the rig there may be given
// a layout without Latin letters, RUVEX_RIG_LAYOUT=ru).
#include "core/RunLoop.h"
#include "support/WaylandDesktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using namespace wayland_desktop;
using platform::KeySender;
using platform::PasteShortcut;

class WaylandKeys : public testing::Test {
protected:
    void SetUp() override {
        if (auto why = missing({"sway", "kwin"})) {
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

    // A sender made just now: its first key must not be lost (on sway our keymap is in place first).
    auto made = pasteKeys(loop, [] { return 0; });
    KeySender& keys = *made;
    EXPECT_EQ(send(keys, PasteShortcut::controlV), KeySender::Result::sent);
    EXPECT_EQ(target.program().waitForLine([](const std::string& line) { return line == "key 55 C"; }), "key 55 C");
    // Where no layout has a Latin V, Ctrl+V types nothing: Shift+Insert is what pastes there.
    const bool latin =
        std::getenv("RUVEX_RIG_LAYOUT") == nullptr || std::string(std::getenv("RUVEX_RIG_LAYOUT")) != "ru";
    EXPECT_EQ(keys.reachable(PasteShortcut::controlV), latin ? PasteShortcut::controlV : PasteShortcut::shiftInsert);
    if (latin) {
        EXPECT_EQ(target.waitForText("ВСТАВКА"), "ВСТАВКА");
    }

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
    auto made = pasteKeys(loop, [&] { return held; });
    KeySender& keys = *made;
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
