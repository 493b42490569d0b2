#include "GuiTest.h"

#include "support/TempDir.h"
#include "ui/Overlay.h"
#include "ui/PillView.h"
#include "ui/VocabularyWindow.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// Last: Xlib defines macros (None, Bool, Status) that clash with other headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

using ui::Overlay;

namespace {

Display* display() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

/// The root window's _NET_ACTIVE_WINDOW, 0 when there is none.
unsigned long activeWindow() {
    Display* d = display();
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    unsigned long window = 0;
    if (XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, "_NET_ACTIVE_WINDOW", False), 0, 1, False, XA_WINDOW,
                           &type, &format, &count, &after, &data) == Success &&
        data && count == 1)
        window = *reinterpret_cast<unsigned long*>(data);
    if (data)
        XFree(data);
    return window;
}

unsigned long inputFocus() {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display(), &focus, &revert);
    return focus;
}

/// The window's rectangle on the root window, as the X server has it.
QRect serverGeometry(QWidget& window) {
    Display* d = display();
    XSync(d, False);
    XWindowAttributes attributes{};
    XGetWindowAttributes(d, window.winId(), &attributes);
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(d, window.winId(), DefaultRootWindow(d), 0, 0, &x, &y, &child);
    return {x, y, attributes.width, attributes.height};
}

bool overrideRedirect(QWidget& window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(display(), window.winId(), &attributes);
    return attributes.override_redirect;
}

/// A plain window that counts the mouse presses it receives.
class Target : public QWidget {
public:
    int presses = 0;
    QPoint lastPress;

protected:
    void mousePressEvent(QMouseEvent* event) override {
        ++presses;
        lastPress = event->globalPosition().toPoint();
    }
};

bool runs(const QStringList& command) {
    return QProcess::execute(command.front(), command.mid(1)) == 0;
}

TEST(OverlayX11Test, FloatsAtTheBottomCentreWithoutFocusAndLetsClicksThrough) {
    ASSERT_NE(display(), nullptr) << "needs the X11 platform";
    // Which desktop this executable runs on: the rig's (with a compositor) or a bare server.
    const bool composited = RUVEX_EXPECT_COMPOSITOR == 1;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();

    // A window under where the pill will be, holding the focus.
    Target target;
    target.setWindowTitle("target");
    target.setGeometry(area.center().x() - 200, area.bottom() - 200, 400, 180);
    target.show();
    target.activateWindow();
    ASSERT_TRUE(guitest::processUntil([&] { return target.isActiveWindow(); }));
    guitest::processPast(0.2);
    const unsigned long activeBefore = activeWindow();
    const unsigned long focusBefore = inputFocus();

    Overlay overlay;
    overlay.show(Overlay::State::listening());
    QWidget& panel = *overlay.panel();
    ASSERT_TRUE(guitest::processUntil([&] { return panel.isVisible() && panel.windowHandle()->isExposed(); }));
    guitest::processPast(0.2);

    EXPECT_EQ(serverGeometry(panel),
              QRect(area.x() + (area.width() - 96) / 2, area.y() + area.height() - 28 - 32, 96, 32));
    EXPECT_TRUE(overrideRedirect(panel));
    EXPECT_EQ(activeWindow(), activeBefore) << "showing the pill does not activate it";
    EXPECT_EQ(inputFocus(), focusBefore);
    EXPECT_TRUE(target.isActiveWindow());
    EXPECT_FALSE(panel.isActiveWindow());

    if (composited) {
        EXPECT_TRUE(panel.mask().isEmpty()) << "translucent corners under a compositor";
    } else {
        const QRegion mask = panel.mask();
        ASSERT_FALSE(mask.isEmpty()) << "without a compositor the corners are cut by a mask";
        EXPECT_TRUE(mask.contains(QPoint(48, 16)));
        EXPECT_TRUE(mask.contains(QPoint(16, 2)));
        EXPECT_FALSE(mask.contains(QPoint(0, 0)));
        EXPECT_FALSE(mask.contains(QPoint(95, 31)));
    }

    // A click on the pill reaches the window beneath it.
    const QPoint centre = serverGeometry(panel).center();
    ASSERT_TRUE(runs({"xdotool", "mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", "1"}));
    ASSERT_TRUE(guitest::processUntil([&] { return target.presses > 0; }));
    EXPECT_LE((target.lastPress - centre).manhattanLength(), 2);

    // Resized and re-centred for a message; still no focus taken.
    overlay.flash("Модель речи не загрузилась", 30);
    guitest::processPast(0.2);
    const QRect message = serverGeometry(panel);
    EXPECT_EQ(message.width(), ui::PillView::widthFor(Overlay::State::message("Модель речи не загрузилась"), {}));
    EXPECT_LE(std::abs(message.center().x() - area.center().x()), 1);
    EXPECT_EQ(activeWindow(), activeBefore);

    // What the desktop shows, for people to look at: the pill over the target window.
    const QRect around = message.adjusted(-12, -12, 12, 12);
    const QString crop =
        QStringLiteral("%1x%2+%3+%4").arg(around.width()).arg(around.height()).arg(around.x()).arg(around.y());
    const QString file = QString::fromStdString(
        (guitest::screenshotFolder() / (composited ? "pill-on-desktop.png" : "pill-on-bare-x.png")).string());
    EXPECT_TRUE(runs({"import", "-window", "root", "-crop", crop, file}));

    overlay.hide();
    EXPECT_TRUE(guitest::processUntil([&] { return !panel.isVisible(); }));
}

TEST(VocabularyWindowX11Test, ComesForwardWithTheCursorInTheText) {
    ASSERT_NE(display(), nullptr) << "needs the X11 platform";
    testsupport::IsolatedHome home;
    Target other;
    other.setWindowTitle("other");
    other.setGeometry(40, 40, 300, 200);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(guitest::processUntil([&] { return other.isActiveWindow(); }));

    ui::VocabularyWindow editor;
    editor.show();
    ASSERT_TRUE(guitest::processUntil([&] { return editor.window()->isActiveWindow(); }));
    EXPECT_TRUE(guitest::processUntil([&] { return editor.textView()->hasFocus(); }));
    editor.close();
}

} // namespace
