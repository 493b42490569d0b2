#include "platform/linux/AtspiCaretProbe.h"
#include "platform/linux/ToolkitAccessibility.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using platform::lnx::lastCharacter;

TEST(LastCharacter, IsTheLastWholeUserPerceivedCharacter) {
    EXPECT_EQ(lastCharacter(""), "");
    EXPECT_EQ(lastCharacter("a"), "a");
    EXPECT_EQ(lastCharacter("ab"), "b");
    EXPECT_EQ(lastCharacter("сл"), "л");
    EXPECT_EQ(lastCharacter("a😀"), "😀");
    EXPECT_EQ(lastCharacter("😀😀"), "😀");
    // A character of several code points stays whole: a combining accent, a skin tone, a flag.
    EXPECT_EQ(lastCharacter("xe\u0301"), "e\u0301");
    EXPECT_EQ(lastCharacter("👍🏽"), "👍🏽");
    EXPECT_EQ(lastCharacter("🇷🇺"), "🇷🇺");
    EXPECT_EQ(lastCharacter("a\r\n"), "\r\n");
    // What an application sends for half of a surrogate pair does not hide the character after it.
    EXPECT_EQ(lastCharacter("\uFFFDb"), "b");
}

TEST(AtspiCaretProbe, WithoutASessionBusGivesNoAnswerAndDoesNotHang) {
    // No address, and no bus socket in the runtime folder either (where the libraries look next).
    testsupport::IsolatedHome home;
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("AT_SPI_BUS_ADDRESS");
    unsetenv("DISPLAY");
    platform::lnx::AtspiCaretProbe probe;
    EXPECT_EQ(probe.characterBeforeCaret(), std::nullopt);
    EXPECT_EQ(probe.characterBeforeCaret(), std::nullopt);
    EXPECT_EQ(platform::lnx::ToolkitAccessibility::enabled(), std::nullopt);
    EXPECT_FALSE(platform::lnx::ToolkitAccessibility::setEnabled(true));
}

} // namespace
