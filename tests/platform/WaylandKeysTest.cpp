// The paste keys on real compositors, into a native Wayland Qt field that reports each key with its
// modifiers: our own virtual keyboard on sway, KWin's fake input on KWin (the rig there may be given
// a layout without Latin letters, RUVEX_RIG_LAYOUT=ru).
#include "core/RunLoop.h"
#include "support/Desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace desktop;
using platform::KeySender;
using platform::PasteShortcut;

TEST(WaylandKeys, EachShortcutReachesTheFieldWithItsModifiersAndAHeldModifierHoldsItBack) {
    if (auto why = missingWayland({"sway", "kwin"}))
        GTEST_SKIP() << *why;
    core::RunLoop loop;
    setPump([&](double seconds) { loop.runFor(seconds); });
    TextTarget target;
    ASSERT_TRUE(target.focused());
    auto keyLine = [&](const std::string& expected) {
        return target.process().waitForLine([&](const std::string& line) { return line == expected; }, 10, pump);
    };
    int held = 0;
    auto keys = pasteKeys(loop, [&] { return held; });
    auto send = [&](PasteShortcut shortcut) {
        std::optional<KeySender::Result> result;
        keys->sendPaste(shortcut, [&](KeySender::Result given) { result = given; });
        pumpUntil([&] { return result.has_value(); });
        return result.value_or(KeySender::Result::failed);
    };

    // Where no layout has a Latin V, Ctrl+V types nothing: Shift+Insert is what pastes there.
    const char* layout = std::getenv("RUVEX_RIG_LAYOUT");
    const bool latin = layout == nullptr || std::string(layout) != "ru";
    EXPECT_EQ(keys->reachable(PasteShortcut::controlV), latin ? PasteShortcut::controlV : PasteShortcut::shiftInsert);
    // Our keymap's codes (and KWin's) are the evdev ones + 8, whatever layout the user has.
    const std::pair<PasteShortcut, std::string> sent[] = {
        {PasteShortcut::controlV, "key 55 C"},
        {PasteShortcut::controlShiftV, "key 55 CS"},
        {PasteShortcut::shiftInsert, "key 118 S"},
    };
    for (const auto& [shortcut, expected] : sent) {
        EXPECT_EQ(send(shortcut), KeySender::Result::sent);
        EXPECT_TRUE(keyLine(expected)) << expected;
    }

    // Still held when the wait is over: sent all the same, and said so.
    held = 1;
    EXPECT_EQ(send(PasteShortcut::controlV), KeySender::Result::sentWithModifier);
    EXPECT_TRUE(keyLine("key 55 C"));
    // Let go during the wait: the keys follow the release.
    std::optional<KeySender::Result> result;
    keys->sendPaste(PasteShortcut::controlV, [&](KeySender::Result given) { result = given; });
    loop.runFor(0.05);
    EXPECT_FALSE(result.has_value());
    held = 0;
    ASSERT_TRUE(pumpUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, KeySender::Result::sent);
    setPump(nullptr);
}

} // namespace
