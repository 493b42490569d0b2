#include "ui/PillView.h"

#include "ui/Look.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace ui {

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

QSizeF measure(const std::string& text) {
    const QFontMetricsF metrics(PillView::font());
    return {metrics.horizontalAdvance(qt(text)), metrics.height()};
}

QColor white(double alpha) {
    return QColor::fromRgbF(1, 1, 1, static_cast<float>(alpha));
}

} // namespace

PillView::PillView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    timer.setInterval(1000 / 30);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, this, [this] { tick(); });
}

const QFont& PillView::font() {
    static const QFont font = look::systemFont(12.5, QFont::Medium);
    return font;
}

int PillView::widthFor(const Overlay::State& state, const std::optional<std::string>& label) {
    if (state.kind == Overlay::State::Kind::message)
        return static_cast<int>(std::ceil(measure(state.text).width())) + 32;
    if (!label)
        return 96;
    return static_cast<int>(std::ceil(measure(*label).width()) + tagX) + 16;
}

void PillView::setLabel(std::optional<std::string> label) {
    tag = std::move(label);
    update();
}

void PillView::setState(const Overlay::State& state) {
    if (state.kind == Overlay::State::Kind::listening)
        bars.fill(0);
    shown = state;
    update();
}

void PillView::push(float level) {
    std::rotate(bars.begin(), bars.begin() + 1, bars.end());
    bars.back() = std::min(std::sqrt(std::max(level, 0.0f) * 6), 1.0f);
    update();
}

void PillView::startAnimating() {
    if (!timer.isActive())
        timer.start();
}

void PillView::stopAnimating() {
    timer.stop();
}

void PillView::setPhase(double value) {
    dotsPhase = value;
    update();
}

void PillView::tick() {
    dotsPhase += 0.12;
    if (shown.kind == Overlay::State::Kind::thinking)
        update();
}

void PillView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF bounds = rect();
    const double h = bounds.height();
    const double midY = bounds.center().y();

    const QRectF inset = bounds.adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = inset.height() / 2;
    QPainterPath background;
    background.addRoundedRect(inset, radius, radius);
    painter.fillPath(background, QColor::fromRgbF(0.08f, 0.08f, 0.08f, 0.92f));
    painter.strokePath(background, QPen(white(0.12), 1));

    const bool indicator = shown.kind != Overlay::State::Kind::message;
    const double c = tag ? 48 : bounds.center().x();
    painter.setFont(font());

    if (indicator && tag) {
        const QSizeF size = measure(*tag);
        painter.setPen(white(0.75));
        painter.drawText(QRectF(tagX, midY - size.height() / 2, size.width() + 1, size.height()),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip, qt(*tag));
    }

    painter.setPen(Qt::NoPen);
    switch (shown.kind) {
    case Overlay::State::Kind::listening: {
        painter.setBrush(Qt::white);
        double x = c - 27.5;
        for (const float v : bars) {
            const double barHeight = std::max((h - 12) * v, 3.0);
            painter.drawRoundedRect(QRectF(x, midY - barHeight / 2, 3, barHeight), 1.5, 1.5);
            x += 6.5;
        }
        break;
    }
    case Overlay::State::Kind::thinking: {
        const double xs[3] = {c - 14, c - 2, c + 10};
        for (int i = 0; i < 3; ++i) {
            painter.setBrush(white(0.35 + 0.65 * (0.5 + 0.5 * std::sin(2 * dotsPhase - 0.9 * i))));
            painter.drawEllipse(QRectF(xs[i], midY - 2.5, 5, 5));
        }
        break;
    }
    case Overlay::State::Kind::message: {
        const QSizeF size = measure(shown.text);
        painter.setPen(Qt::white);
        painter.drawText(
            QRectF(bounds.center().x() - size.width() / 2, midY - size.height() / 2, size.width() + 1, size.height()),
            Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip, qt(shown.text));
        break;
    }
    }
}

} // namespace ui
