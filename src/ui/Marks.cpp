#include "ui/Marks.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>

namespace ui {

namespace {

/// Theme names of the same symbols, in the order they are tried.
QStringList themeNames(Mark mark) {
    switch (mark) {
    case Mark::checkmarkCircleFill:
        return {"emblem-ok-symbolic", "emblem-default-symbolic"};
    case Mark::arrowDownCircle:
        return {"folder-download-symbolic", "go-down-symbolic"};
    case Mark::circle:
        return {"radio-symbolic"};
    case Mark::keyboard:
        return {"input-keyboard-symbolic", "input-keyboard"};
    }
    return {};
}

void drawMark(QPainter& p, Mark mark, double s, const QColor& color) {
    const QRectF box(0.75, 0.75, s - 1.5, s - 1.5);
    QPen pen(color, s / 11.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (mark) {
    case Mark::checkmarkCircleFill: {
        QPainterPath disc;
        disc.addEllipse(box.adjusted(-0.5, -0.5, 0.5, 0.5));
        p.fillPath(disc, color);
        QPainterPath tick;
        tick.moveTo(s * 0.29, s * 0.52);
        tick.lineTo(s * 0.44, s * 0.67);
        tick.lineTo(s * 0.72, s * 0.36);
        p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        p.strokePath(tick, QPen(Qt::black, s / 8.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        break;
    }
    case Mark::arrowDownCircle: {
        p.setPen(pen);
        p.drawEllipse(box);
        QPainterPath arrow;
        arrow.moveTo(s / 2, s * 0.27);
        arrow.lineTo(s / 2, s * 0.72);
        arrow.moveTo(s * 0.32, s * 0.54);
        arrow.lineTo(s / 2, s * 0.72);
        arrow.lineTo(s * 0.68, s * 0.54);
        p.strokePath(arrow, pen);
        break;
    }
    case Mark::circle:
        p.setPen(pen);
        p.drawEllipse(box);
        break;
    case Mark::keyboard: {
        const QRectF body(0.75, s * 0.2, s - 1.5, s * 0.6);
        p.setPen(pen);
        p.drawRoundedRect(body, s * 0.1, s * 0.1);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        const double key = s * 0.09;
        for (int row = 0; row < 2; ++row) {
            for (int column = 0; column < 5; ++column)
                p.drawRect(QRectF(s * 0.17 + column * s * 0.145, s * 0.3 + row * s * 0.14, key, key));
        }
        p.drawRect(QRectF(s * 0.3, s * 0.6, s * 0.4, key));
        break;
    }
    }
}

} // namespace

QString markName(Mark mark) {
    switch (mark) {
    case Mark::checkmarkCircleFill:
        return QStringLiteral("checkmark.circle.fill");
    case Mark::arrowDownCircle:
        return QStringLiteral("arrow.down.circle");
    case Mark::circle:
        return QStringLiteral("circle");
    case Mark::keyboard:
        return QStringLiteral("keyboard");
    }
    return {};
}

QPixmap markPixmap(Mark mark, int size, const QColor& color) {
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    for (const QString& name : themeNames(mark)) {
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name).pixmap(QSize(size, size), ratio);
    }
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    drawMark(painter, mark, size, color);
    return pixmap;
}

} // namespace ui
