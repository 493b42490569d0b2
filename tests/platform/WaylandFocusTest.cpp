// Which window has the focus on a real compositor (sway through the rig): the accessibility bus for
// a native Qt field, sway's tree for a terminal that the bus does not know.
#include "core/RunLoop.h"
#include "output/Inserter.h"
#include "platform/linux/AtspiFocusedWindow.h"
#include "platform/wayland/SwayTree.h"
#include "support/Desktop.h"

#include <gtest/gtest.h>

namespace {

using namespace desktop;

TEST(WaylandFocus, TheAccessibilityBusNamesTheFieldAndSwayNamesATerminalTheBusDoesNotKnow) {
    if (auto why = missingWayland({"sway"}))
        GTEST_SKIP() << *why;
    platform::lnx::AtspiFocusedWindow focus([] { return platform::wayland::swayFocusedWindow(); });
    {
        TextTarget target;
        ASSERT_TRUE(target.focused());
        std::optional<platform::WindowIdentity> window;
        ASSERT_TRUE(
            pumpUntil([&] { return (window = platform::lnx::AtspiFocusedWindow::fromAccessibility()).has_value(); }));
        EXPECT_EQ(window->processId, target.process().pid());
        EXPECT_EQ(window->className, "fixture_text_target");
        EXPECT_FALSE(window->terminal);
        auto sway = platform::wayland::swayFocusedWindow();
        ASSERT_TRUE(sway.has_value());
        EXPECT_EQ(sway->instance, "fixture_text_target");
        EXPECT_EQ(sway->processId, target.process().pid());
        EXPECT_EQ(output::Inserter::shortcutFor(focus.identify()), platform::PasteShortcut::controlV);

        // foot has no accessibility: with it in front the bus knows no active window, sway does.
        testsupport::Process terminal({"foot", "--app-id=foot", "sleep", "60"});
        ASSERT_TRUE(pumpUntil([&] {
            auto front = platform::wayland::swayFocusedWindow();
            return front && front->instance == "foot";
        }));
        std::optional<platform::WindowIdentity> identity;
        ASSERT_TRUE(pumpUntil([&] {
            identity = focus.identify();
            return identity && identity->instance == "foot";
        }));
        EXPECT_EQ(identity->processId, terminal.pid());
        EXPECT_EQ(output::Inserter::shortcutFor(identity), platform::PasteShortcut::controlShiftV);
    }
}

} // namespace
