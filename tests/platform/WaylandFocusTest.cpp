// Which window has the focus on sway: its tree for a terminal that the accessibility bus does not
// know. (The bus naming a native Qt field is the program's end-to-end scenario: the caret probe asks it.)
#include "core/RunLoop.h"
#include "output/Inserter.h"
#include "platform/linux/AtspiFocusedWindow.h"
#include "platform/wayland/SwayTree.h"
#include "support/Desktop.h"

#include <gtest/gtest.h>

namespace {

using namespace desktop;

TEST(WaylandFocus, SwayNamesATerminalTheAccessibilityBusDoesNotKnow) {
    if (auto why = missingWayland({"sway"}))
        GTEST_SKIP() << *why;
    platform::lnx::AtspiFocusedWindow focus([] { return platform::wayland::swayFocusedWindow(); });
    {
        // The field known to the accessibility bus behind the terminal.
        TextTarget target;
        ASSERT_TRUE(target.focused());
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
