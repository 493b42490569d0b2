#include "GuiTest.h"

#include "ui/Glyph.h"

#include <gtest/gtest.h>

namespace {

/// The glyph's opacity at a logical point.
int alphaAt(const QImage& image, double x, double y) {
    const double r = image.devicePixelRatio();
    return image.pixelColor(static_cast<int>(x * r), static_cast<int>(y * r)).alpha();
}

TEST(GlyphTest, IdleIsTheBareSignInTheInk) {
    guitest::app();
    const QColor ink(20, 200, 90);
    const QImage image = ui::optionGlyphImage(false, ink, 2);
    EXPECT_EQ(image.size(), QSize(36, 36));
    EXPECT_EQ(image.deviceIndependentSize(), QSizeF(18, 18));
    // s = 0.82 around (9, 9): top-left bar at y 4.08 from x 0.8 to 6.05, diagonal through the centre,
    // bottom-right bar at y 13.92, top-right bar from x 11.1.
    EXPECT_GT(alphaAt(image, 3, 4.1), 200);
    EXPECT_GT(alphaAt(image, 9, 9), 200);
    EXPECT_GT(alphaAt(image, 15, 13.9), 200);
    EXPECT_GT(alphaAt(image, 14, 4.1), 200);
    EXPECT_EQ(alphaAt(image, 3, 14), 0) << "nothing at bottom left";
    EXPECT_EQ(alphaAt(image, 9, 2), 0);
    EXPECT_EQ(alphaAt(image, 16, 9), 0);
    const QColor c = image.pixelColor(18, 18);
    EXPECT_NEAR(c.red(), ink.red(), 2);
    EXPECT_NEAR(c.green(), ink.green(), 2);
    EXPECT_NEAR(c.blue(), ink.blue(), 2);
}

TEST(GlyphTest, RecordingCutsASmallerSignOutOfARoundedSquare) {
    guitest::app();
    const QImage image = ui::optionGlyphImage(true, Qt::black, 2);
    // s = 0.6: bars at y 5.4 and 12.6, the top-left one from x 3 to 6.84.
    EXPECT_EQ(alphaAt(image, 4.5, 5.4), 0) << "the sign is a hole";
    EXPECT_EQ(alphaAt(image, 9, 9), 0);
    EXPECT_EQ(alphaAt(image, 13.5, 12.6), 0);
    EXPECT_GT(alphaAt(image, 9, 3), 250) << "the square around it is filled";
    EXPECT_GT(alphaAt(image, 2, 15), 250);
    EXPECT_GT(alphaAt(image, 4, 12.6), 250) << "no bar at bottom left";
    EXPECT_EQ(alphaAt(image, 0.2, 0.2), 0) << "rounded corner";
    EXPECT_GT(alphaAt(image, 1, 9), 250);

    const QImage single = ui::optionGlyphImage(true, Qt::white, 1);
    EXPECT_EQ(single.size(), QSize(18, 18));
    EXPECT_EQ(single.pixelColor(9, 3), QColor(Qt::white));

    const QIcon icon = ui::optionGlyph(false, Qt::white);
    EXPECT_FALSE(icon.isNull());
    EXPECT_EQ(icon.availableSizes().size(), 2);
}

} // namespace
