#include "text/Presets.h"

#include "core/Defaults.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

using text::Preset;
using text::Style;
namespace styles = text::styles;

TEST(Styles, RawValuesRoundTripExactly) {
    for (Style style : styles::allCases) {
        EXPECT_EQ(styles::fromRawValue(styles::rawValue(style)), style);
    }
    EXPECT_STREQ(styles::rawValue(Style::asSpoken), "asSpoken");
    EXPECT_STREQ(styles::rawValue(Style::friendly), "friendly");
    EXPECT_FALSE(styles::fromRawValue("Natural"));
    EXPECT_FALSE(styles::fromRawValue(""));
    EXPECT_STREQ(styles::title(Style::natural), "Естественный");
    EXPECT_STREQ(styles::hint(Style::business), "Ясно, коротко, уверенно, без воды и канцелярита.");
}

TEST(Presets, RewritesAndTag) {
    EXPECT_FALSE((Preset{Style::asSpoken, false}).rewrites());
    EXPECT_EQ((Preset{Style::asSpoken, false}).tag(), std::nullopt);
    EXPECT_TRUE((Preset{Style::asSpoken, true}).rewrites());
    EXPECT_EQ((Preset{Style::asSpoken, true}).tag(), "EN");
    EXPECT_TRUE((Preset{Style::friendly, false}).rewrites());
    EXPECT_EQ((Preset{Style::friendly, false}).tag(), "Дружеский");
    EXPECT_EQ((Preset{Style::business, true}).tag(), "EN · Деловой");
}

TEST(Presets, SavedSettingsWithDefaults) {
    testsupport::IsolatedHome home;
    EXPECT_EQ(Preset::saved(), (Preset{Style::asSpoken, false}));
    EXPECT_FALSE(Preset::saved().rewrites());
    EXPECT_FALSE(Preset::saved().tag());

    auto defaults = core::Defaults::standard();
    for (const char* unknown : {"Natural", "", "formal"}) {
        ASSERT_TRUE(defaults.setString("style", unknown));
        EXPECT_EQ(styles::saved(), Style::asSpoken) << unknown;
    }
    ASSERT_TRUE(defaults.setBoolean("style", true));
    EXPECT_EQ(styles::saved(), Style::asSpoken);

    styles::setSaved(Style::business);
    EXPECT_EQ(defaults.string("style"), "business");
    Preset::saveEnglish(true);
    EXPECT_EQ(defaults.boolean("english"), true);
    EXPECT_EQ(Preset::saved(), (Preset{Style::business, true}));
    EXPECT_EQ(Preset::saved().tag(), "EN · Деловой");

    styles::setSaved(Style::asSpoken);
    EXPECT_EQ(Preset::saved().tag(), "EN");
    Preset::saveEnglish(false);
    EXPECT_EQ(Preset::saved(), Preset());
}

} // namespace
