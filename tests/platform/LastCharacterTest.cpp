#include "platform/linux/AtspiCaretProbe.h"

#include <gtest/gtest.h>

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

} // namespace
