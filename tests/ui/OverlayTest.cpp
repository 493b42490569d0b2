#include "GuiTest.h"

#include "ui/Overlay.h"
#include "ui/PillView.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using guitest::brightness;
using ui::Overlay;
using ui::PillView;

namespace {

int textWidth(const std::string& text) {
    return static_cast<int>(std::ceil(QFontMetricsF(PillView::font()).horizontalAdvance(QString::fromStdString(text))));
}

class OverlayTest : public ::testing::Test {
protected:
    void SetUp() override { guitest::app(); }
    QRect area() const { return QGuiApplication::primaryScreen()->availableGeometry(); }
    Overlay overlay;
};

TEST_F(OverlayTest, SitsAtTheBottomCentreAndSizesToWhatItShows) {
    const QRect screen = area();
    overlay.show(Overlay::State::listening());
    QWidget* panel = overlay.panel();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->width(), 96);
    EXPECT_EQ(panel->height(), 32);
    EXPECT_EQ(panel->x(), screen.x() + (screen.width() - 96) / 2);
    EXPECT_EQ(panel->geometry().bottom() + 1, screen.bottom() + 1 - 28);

    overlay.setTag("EN · Деловой");
    overlay.show(Overlay::State::thinking());
    EXPECT_EQ(panel->width(), textWidth("EN · Деловой") + 86 + 16);
    EXPECT_EQ(panel->geometry().bottom() + 1, screen.bottom() + 1 - 28);
    EXPECT_LE(std::abs(panel->x() + panel->width() / 2.0 - (screen.x() + screen.width() / 2.0)), 1.0);

    overlay.show(Overlay::State::message("Не расслышал"));
    EXPECT_EQ(panel->width(), textWidth("Не расслышал") + 32);

    // A message wider than the screen is neither wrapped nor cut.
    const std::string longText(400, 'W');
    overlay.show(Overlay::State::message(longText));
    EXPECT_GT(panel->width(), screen.width());
    EXPECT_EQ(panel->width(), textWidth(longText) + 32);

    overlay.hide();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(overlay.pill()->animating());
}

TEST_F(OverlayTest, PanelNeverTakesFocusNorClicks) {
    const Qt::WindowFlags flags = overlay.panel()->windowFlags();
    for (const Qt::WindowType flag : {Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint, Qt::WindowDoesNotAcceptFocus,
                                      Qt::WindowTransparentForInput, Qt::X11BypassWindowManagerHint}) {
        EXPECT_TRUE(flags.testFlag(flag)) << flag;
    }
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(overlay.panel()->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(overlay.panel()->testAttribute(Qt::WA_TranslucentBackground));
}

TEST_F(OverlayTest, ListeningStartsFromSilentBarsAndClampsLoudOnes) {
    PillView& pill = *overlay.pill();
    overlay.show(Overlay::State::listening());
    for (int i = 0; i < 9; ++i)
        overlay.level(0.9f);
    for (float v : pill.levels())
        EXPECT_FLOAT_EQ(v, 1.0f);
    overlay.show(Overlay::State::thinking());
    EXPECT_FLOAT_EQ(pill.levels()[0], 1.0f) << "thinking keeps the bars";
    overlay.show(Overlay::State::listening());
    for (float v : pill.levels())
        EXPECT_FLOAT_EQ(v, 0.0f);

    overlay.level(1.0f / 6);
    overlay.level(0.01f);
    EXPECT_FLOAT_EQ(pill.levels()[8], std::sqrt(0.06f));
    EXPECT_FLOAT_EQ(pill.levels()[7], 1.0f);
    EXPECT_FLOAT_EQ(pill.levels()[6], 0.0f);
}

TEST_F(OverlayTest, BarsAreDrawnFromTheLevels) {
    PillView& pill = *overlay.pill();
    overlay.show(Overlay::State::listening());
    // Newest on the right: after these pushes bar 8 is full, bar 7 silent, bar 6 half, the rest silent.
    overlay.level(0.25f / 6);
    overlay.level(0);
    overlay.level(1);
    const QImage image = guitest::render(pill);
    ASSERT_EQ(image.size(), QSize(96, 32));
    const int mid = 16;
    auto barX = [](int i) { return static_cast<int>(48 - 27.5 + 6.5 * i + 1.5); };

    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << "corner outside the rounded background";
    EXPECT_LT(brightness(image, 10, mid), 40) << "dark background";
    EXPECT_GT(image.pixelColor(10, mid).alpha(), 200);

    EXPECT_GT(brightness(image, barX(8), mid - 9), 200) << "a full bar is 20 high";
    EXPECT_GT(brightness(image, barX(8), mid + 8), 200);
    EXPECT_LT(brightness(image, barX(8), mid - 12), 60) << "and no higher";
    EXPECT_GT(brightness(image, barX(7), mid), 200) << "a silent bar is 3 high";
    EXPECT_LT(brightness(image, barX(7), mid - 3), 60);
    EXPECT_GT(brightness(image, barX(6), mid - 4), 200) << "half a level gives a 10-high bar";
    EXPECT_LT(brightness(image, barX(6), mid - 7), 60);
    EXPECT_LT(brightness(image, barX(4) + 3, mid), 60) << "gap between bars";
}

TEST_F(OverlayTest, DotsPulseInAWaveFromLeftToRight) {
    PillView& pill = *overlay.pill();
    overlay.show(Overlay::State::thinking());
    const int dots[3] = {48 - 14 + 2, 48 - 2 + 2, 48 + 10 + 2};
    const int mid = 15;

    pill.setPhase(std::numbers::pi / 4); // the wave's crest on the first dot
    QImage image = guitest::render(pill);
    EXPECT_GT(brightness(image, dots[0], mid), brightness(image, dots[1], mid) + 10);
    EXPECT_GT(brightness(image, dots[1], mid), brightness(image, dots[2], mid) + 10);

    pill.setPhase(std::numbers::pi / 4 + 0.9); // two steps on: the crest on the last dot
    image = guitest::render(pill);
    EXPECT_GT(brightness(image, dots[2], mid), brightness(image, dots[1], mid) + 10);
    EXPECT_GT(brightness(image, dots[1], mid), brightness(image, dots[0], mid) + 10);
    EXPECT_LT(brightness(image, 48 + 6, mid), 60) << "between the dots";

    // The tick advances the phase while shown and stops with the pill.
    const double before = pill.phase();
    ASSERT_TRUE(guitest::processUntil([&] { return pill.phase() > before + 0.2; }));
    overlay.hide();
    const double stopped = pill.phase();
    guitest::processPast(0.2);
    EXPECT_DOUBLE_EQ(pill.phase(), stopped);
}

TEST_F(OverlayTest, TagStandsBesideTheIndicatorButNotBesideAMessage) {
    PillView& pill = *overlay.pill();
    overlay.setTag("EN");
    EXPECT_EQ(overlay.tag(), "EN");
    overlay.show(Overlay::State::listening());
    const QImage image = guitest::render(pill);
    ASSERT_EQ(image.width(), textWidth("EN") + 102);
    int tagPixels = 0;
    int leftOfTag = 0;
    for (int y = 8; y < 24; ++y) {
        for (int x = 76; x < image.width() - 8; ++x) {
            const bool lit = brightness(image, x, y) > 90;
            tagPixels += lit && x >= 86;
            leftOfTag += lit && x < 86;
        }
    }
    EXPECT_GT(tagPixels, 10);
    EXPECT_EQ(leftOfTag, 0) << "the tag starts at 86 and the bars end at 75.5";
    EXPECT_GT(brightness(image, static_cast<int>(48 - 27.5 + 1.5), 16), 200) << "bars centred on 48";

    // A message centres its text on the whole pill, without the tag.
    overlay.show(Overlay::State::message("Нет ключа ИИ"));
    const QImage message = guitest::render(pill);
    const int width = textWidth("Нет ключа ИИ");
    int first = -1;
    int last = -1;
    for (int x = 0; x < message.width(); ++x) {
        for (int y = 6; y < 26; ++y) {
            if (brightness(message, x, y) > 120) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
    }
    EXPECT_NEAR(first, 16, 2);
    EXPECT_NEAR(last, 16 + width, 3);
}

TEST_F(OverlayTest, AnOlderFlashNeverHidesALaterPill) {
    QWidget* panel = overlay.panel();
    overlay.flash("Первое", 0.2);
    EXPECT_TRUE(overlay.hidePending());
    overlay.show(Overlay::State::listening());
    EXPECT_FALSE(overlay.hidePending());
    guitest::processPast(0.4);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(overlay.pill()->state(), Overlay::State::listening());

    // flash(A) then flash(B): B's own duration counts, from B.
    overlay.flash("A", 0.3);
    overlay.flash("B", 0.6);
    guitest::processPast(0.45);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(overlay.pill()->state(), Overlay::State::message("B"));
    EXPECT_TRUE(guitest::processUntil([&] { return !panel->isVisible(); }));

    // hide() cancels too: a later show is not hidden by the old flash.
    overlay.flash("C", 0.2);
    overlay.hide();
    EXPECT_FALSE(overlay.hidePending());
    overlay.show(Overlay::State::thinking());
    guitest::processPast(0.4);
    EXPECT_TRUE(panel->isVisible());
}

TEST_F(OverlayTest, Screenshots) {
    overlay.setTag(std::nullopt);
    overlay.show(Overlay::State::listening());
    for (float v : {0.0f, 0.02f, 0.08f, 0.15f, 0.05f, 0.12f, 0.01f, 0.04f, 0.1f})
        overlay.level(v);
    guitest::screenshot(*overlay.pill(), "pill-listening");
    overlay.setTag("EN · Деловой");
    overlay.show(Overlay::State::thinking());
    overlay.pill()->setPhase(1.0);
    const auto file = guitest::screenshot(*overlay.pill(), "pill-thinking-tag");
    overlay.flash("Модель речи не загрузилась");
    guitest::screenshot(*overlay.pill(), "pill-message");
    EXPECT_TRUE(std::filesystem::exists(file));
}

} // namespace
