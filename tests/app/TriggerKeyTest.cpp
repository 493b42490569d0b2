#include "app/TriggerKey.h"

#include "core/Defaults.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <unordered_set>

using app::TriggerKey;

TEST(TriggerKey, CasesCarryTheirRawValuesKeysAndNames) {
    ASSERT_EQ(TriggerKey::allCases.size(), 2u);
    TriggerKey alt = TriggerKey::allCases[0];
    TriggerKey super = TriggerKey::allCases[1];
    EXPECT_EQ(alt, TriggerKey::rightOption);
    EXPECT_EQ(super, TriggerKey::rightCommand);

    EXPECT_EQ(alt.rawValue(), "rightOption");
    EXPECT_EQ(alt.keyCode(), 108u);
    EXPECT_EQ(alt.evdevCode(), 100u);
    EXPECT_EQ(alt.title(), "Правый Alt");
    EXPECT_EQ(alt.shortName(), "правый Alt");

    EXPECT_EQ(super.rawValue(), "rightCommand");
    EXPECT_EQ(super.keyCode(), 134u);
    EXPECT_EQ(super.evdevCode(), 126u);
    EXPECT_EQ(super.title(), "Правый Super");
    EXPECT_EQ(super.shortName(), "правый Super");

    std::unordered_set<TriggerKey> set(TriggerKey::allCases.begin(), TriggerKey::allCases.end());
    EXPECT_EQ(set.size(), 2u);
}

TEST(TriggerKey, RawValuesMapBackAndUnknownOnesDoNot) {
    EXPECT_EQ(TriggerKey::fromRawValue("rightOption"), TriggerKey::rightOption);
    EXPECT_EQ(TriggerKey::fromRawValue("rightCommand"), TriggerKey::rightCommand);
    EXPECT_FALSE(TriggerKey::fromRawValue("RightCommand").has_value());
    EXPECT_FALSE(TriggerKey::fromRawValue("").has_value());
}

TEST(TriggerKey, SavedChoiceDefaultsToRightAltAndSurvivesARoundTrip) {
    testsupport::IsolatedHome home;
    EXPECT_EQ(TriggerKey::saved(), TriggerKey::rightOption) << "absent setting";

    ASSERT_TRUE(TriggerKey::setSaved(TriggerKey::rightCommand));
    EXPECT_EQ(TriggerKey::saved(), TriggerKey::rightCommand);
    EXPECT_EQ(core::Defaults::standard().string("triggerKey"), "rightCommand");

    ASSERT_TRUE(TriggerKey::setSaved(TriggerKey::rightOption));
    EXPECT_EQ(TriggerKey::saved(), TriggerKey::rightOption);

    ASSERT_TRUE(core::Defaults::standard().setString("triggerKey", "leftCommand"));
    EXPECT_EQ(TriggerKey::saved(), TriggerKey::rightOption) << "unknown value";
}
