#include "text/Presets.h"

#include "core/Defaults.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

using text::Preset;
using text::Style;
namespace styles = text::styles;

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
    auto defaults = core::Defaults::standard();
    EXPECT_EQ(Preset::saved(defaults), (Preset{Style::asSpoken, false}));
    for (const char* unknown : {"Natural", "", "formal"}) {
        ASSERT_TRUE(defaults.setString("style", unknown));
        EXPECT_EQ(styles::saved(defaults), Style::asSpoken) << unknown;
    }
    ASSERT_TRUE(defaults.setBoolean("style", true));
    EXPECT_EQ(styles::saved(defaults), Style::asSpoken);

    styles::setSaved(defaults, Style::business);
    EXPECT_EQ(defaults.string("style"), "business");
    Preset::saveEnglish(defaults, true);
    EXPECT_EQ(defaults.boolean("english"), true);
    EXPECT_EQ(Preset::saved(defaults), (Preset{Style::business, true}));
    EXPECT_EQ(Preset::saved(defaults).tag(), "EN · Деловой");

    styles::setSaved(defaults, Style::asSpoken);
    EXPECT_EQ(Preset::saved(defaults).tag(), "EN");
    Preset::saveEnglish(defaults, false);
    EXPECT_EQ(Preset::saved(defaults), Preset());
}

} // namespace
