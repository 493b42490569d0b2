#include "ui/Glyph.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace ui {

QImage optionGlyphImage(bool recording, const QColor& ink, qreal devicePixelRatio) {
    constexpr double side = 18;
    const int pixels = static_cast<int>(std::lround(side * devicePixelRatio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(0, 0, side, side);
    const double s = recording ? 0.6 : 0.82;
    const double cx = bounds.center().x();
    const double cy = bounds.center().y();

    QPainterPath sign;
    sign.moveTo(cx - 10 * s, cy - 6 * s);
    sign.lineTo(cx - 3.6 * s, cy - 6 * s);
    sign.lineTo(cx + 3.6 * s, cy + 6 * s);
    sign.lineTo(cx + 10 * s, cy + 6 * s);
    sign.moveTo(cx + 2.6 * s, cy - 6 * s);
    sign.lineTo(cx + 10 * s, cy - 6 * s);

    QPen pen(ink, recording ? 1.7 : 1.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (recording) {
        QPainterPath square;
        square.addRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), 4.5, 4.5);
        painter.fillPath(square, ink);
        // The stroke removes what it covers, so the sign shows as a hole in the square.
        painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        pen.setColor(Qt::black);
    }
    painter.strokePath(sign, pen);
    return image;
}

QIcon optionGlyph(bool recording, const QColor& ink) {
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        QPixmap pixmap = QPixmap::fromImage(optionGlyphImage(recording, ink, ratio));
        pixmap.setDevicePixelRatio(ratio);
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace ui
