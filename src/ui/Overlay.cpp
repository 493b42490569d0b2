#include "ui/Overlay.h"

#include "platform/PillSurface.h"
#include "ui/PillView.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

namespace ui {

namespace {

/// The visible area of the screen under the mouse, else of the primary screen, else nothing.
QRect screenArea() {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

Overlay::Overlay()
    : window(std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool |
                                                    Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                                                    Qt::X11BypassWindowManagerHint)) {
    window->setAttribute(Qt::WA_TranslucentBackground);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setFocusPolicy(Qt::NoFocus);
    window->setWindowTitle(QStringLiteral("Ruvex Voice"));
    window->resize(96, PillView::height);
    view = new PillView(window.get());
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);

    hideWork.setSingleShot(true);
    QObject::connect(&hideWork, &QTimer::timeout, &hideWork, [this] { hide(); });
    // The surface has no paint events of its own: the pill is drawn at the view's animation rate.
    frames.setInterval(1000 / 30);
    QObject::connect(&frames, &QTimer::timeout, &frames, [this] { present(); });
}

void Overlay::useSurface(platform::PillSurface* given) {
    hide();
    surface = given;
}

void Overlay::present() {
    const int scale = std::max(1, surface->scale());
    QImage image(view->size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    view->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    if (image == presented) {
        return;
    }
    // Premultiplied ARGB32 in native byte order is the compositor's ARGB8888, row after row.
    if (image.bytesPerLine() != image.width() * 4) {
        image = image.copy();
    }
    surface->show(
        {view->width(), view->QWidget::height(), scale, reinterpret_cast<const std::uint32_t*>(image.constBits())});
    presented = std::move(image);
}

Overlay::~Overlay() = default;

void Overlay::show(const State& state) {
    hideWork.stop();
    view->setState(state);
    const int width = PillView::widthFor(state, view->label());
    if (surface) {
        // The compositor places the surface: bottom centre of the output the user works on.
        view->setGeometry(0, 0, width, PillView::height);
        view->startAnimating();
        present();
        frames.start();
        return;
    }
    const QRect area = screenArea();
    // Qt's y grows downwards: the pill's lower edge stands 28 above the bottom of the visible area.
    const int x = area.x() + static_cast<int>(std::lround(area.width() / 2.0 - width / 2.0));
    const int y = area.y() + area.height() - 28 - PillView::height;
    window->setGeometry(x, y, width, PillView::height);
    if (!translucency || translucency()) {
        window->clearMask();
    } else {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(0, 0, width, PillView::height), PillView::height / 2.0, PillView::height / 2.0);
        window->setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }
    window->show();
    window->raise();
    view->update();
    view->startAnimating();
}

void Overlay::flash(const std::string& text, double seconds) {
    show(State::message(text));
    hideWork.start(static_cast<int>(std::lround(seconds * 1000)));
}

void Overlay::hide() {
    hideWork.stop();
    view->stopAnimating();
    if (surface) {
        frames.stop();
        surface->hide();
        presented = QImage();
        return;
    }
    window->hide();
}

void Overlay::level(float value) {
    view->push(value);
}

void Overlay::setTag(std::optional<std::string> tag) {
    view->setLabel(std::move(tag));
}

std::optional<std::string> Overlay::tag() const {
    return view->label();
}

} // namespace ui
