#include "core/Unicode.h"

#include <gtest/gtest.h>

namespace {

using core::unicode::lastCharacter;

TEST(Unicode, CharactersAreWholeUserPerceivedOnes) {
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
    EXPECT_EQ(core::unicode::characters(std::string_view("a👍🏽e\u0301")),
              (std::vector<std::string_view>{"a", "👍🏽", "e\u0301"}));
    EXPECT_EQ(core::unicode::length("👩‍👩‍👧‍👦 🇷🇺"), 3u);
}

} // namespace
