// The pill as a layer-shell surface on real compositors: on sway where it lands and that it goes away
// (the screenshots are kept as wayland-pill*.png in the test's folder). That it leaves the focus to
// the user's window, here and as GNOME's XWayland window, is the program's end-to-end scenario.
#include "platform/qt/QtMainQueue.h"
#include "platform/wayland/LayerShellPill.h"
#include "support/Desktop.h"
#include "ui/Overlay.h"

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using namespace desktop;

// The box of the pill's dark pixels near the bottom of a screenshot of the whole output (the field
// behind it is light; its frame and caret, at the edges and the top, are left out); empty when there
// are none.
QRect pillIn(const QImage& screen) {
    QRect box;
    for (int y = screen.height() - 120; y < screen.height() - 4; ++y) {
        for (int x = 4; x < screen.width() - 4; ++x) {
            const QColor pixel = screen.pixelColor(x, y);
            if (pixel.red() < 80 && pixel.green() < 80 && pixel.blue() < 80) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

QImage screenshot(const std::string& file) {
    EXPECT_EQ(runTool({"grim", file}).status, 0);
    return QImage(QString::fromStdString(file));
}

TEST(WaylandPill, ShowsAtTheBottomCentreAndGoesAway) {
    if (auto why = missingWayland({"sway", "kwin"}))
        GTEST_SKIP() << *why;
    platform::qt::QtMainQueue main;
    TextTarget target;
    ASSERT_TRUE(target.focused());
    platform::wayland::LayerShellPill surface(main);
    ASSERT_TRUE(surface.usable());
    ui::Overlay overlay;
    overlay.useSurface(&surface);

    overlay.show(ui::Overlay::State::thinking());
    ASSERT_TRUE(pumpUntil([&] { return surface.mapped(); }));
    if (compositor() == "kwin") {
        // No screenshots there (grim needs wlroots' screencopy).
        overlay.hide();
        EXPECT_TRUE(pumpUntil([&] { return !surface.mapped(); }));
        return;
    }
    // Some frames for the compositor to draw it.
    pumpFor(0.3);
    const QImage shown = screenshot("wayland-pill.png");
    ASSERT_FALSE(shown.isNull());
    const QRect pill = pillIn(shown);
    EXPECT_NEAR(pill.center().x(), shown.width() / 2, 2) << pill.x() << "," << pill.y() << " " << pill.width();
    EXPECT_NEAR(pill.bottom(), shown.height() - 1 - platform::wayland::LayerShellPill::bottomMargin, 2);
    EXPECT_NEAR(pill.width(), 96, 3);
    EXPECT_NEAR(pill.height(), 32, 3);

    // A longer message makes it wider, still centred.
    overlay.show(ui::Overlay::State::message("Не расслышал, попробуйте ещё раз"));
    QRect wider;
    ASSERT_TRUE(pumpUntil([&] {
        wider = pillIn(screenshot("wayland-pill-message.png"));
        return wider.width() > 120;
    }));
    EXPECT_NEAR(wider.center().x(), shown.width() / 2, 2);

    overlay.hide();
    EXPECT_TRUE(pumpUntil([&] { return pillIn(screenshot("wayland-pill-hidden.png")).isEmpty(); }));
}

} // namespace

int main(int argc, char** argv) {
    // As the program where the compositor has layer-shell: Qt on the compositor itself.
    setenv("QT_QPA_PLATFORM", std::getenv("WAYLAND_DISPLAY") ? "wayland" : "offscreen", 0);
    QApplication application(argc, argv);
    desktop::setPump(
        [](double seconds) { QCoreApplication::processEvents(QEventLoop::AllEvents, int(seconds * 1000)); });
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
