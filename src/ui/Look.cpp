#include "ui/Look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QScreen>
#include <QWidget>

namespace ui::look {

namespace {

/// A plain-text edit whose text keeps a distance from the border.
class TextArea : public QPlainTextEdit {
public:
    TextArea() {
        // With the document's own 4-pixel margin: 6 across, 8 down.
        document()->setDocumentMargin(4);
        setViewportMargins(2, 4, 2, 4);
        setBackgroundRole(QPalette::Base);
        setAutoFillBackground(true);
    }
};

QColor textWithAlpha(const QWidget& widget, float alpha) {
    QColor color = widget.palette().color(QPalette::WindowText);
    color.setAlphaF(alpha);
    return color;
}

} // namespace

/// Qt's point size for a text `pixels` high at scale 1 on the primary screen.
double pointSize(double pixels) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen && screen->logicalDotsPerInchY() > 0 ? screen->logicalDotsPerInchY() : 96.0;
    return pixels * 72.0 / dpi;
}

QFont systemFont(double points, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPointSizeF(pointSize(points));
    font.setWeight(weight);
    return font;
}

QFont monospaceFont(double points) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(pointSize(points));
    font.setWeight(QFont::Normal);
    return font;
}

QColor labelColor(const QWidget& widget) {
    return textWithAlpha(widget, 0.85f);
}
QColor secondaryLabelColor(const QWidget& widget) {
    return textWithAlpha(widget, 0.5f);
}
QColor tertiaryLabelColor(const QWidget& widget) {
    return textWithAlpha(widget, 0.26f);
}

QLabel* makeLabel(const QString& text, const QFont& font, bool wrapping, const QColor& color) {
    auto* label = new QLabel(text);
    label->setFont(font);
    label->setWordWrap(wrapping);
    label->setTextFormat(Qt::PlainText);
    if (color.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
    return label;
}

QPlainTextEdit* makeTextArea(const QFont& font) {
    auto* area = new TextArea;
    area->setFont(font);
    area->setUndoRedoEnabled(true);
    area->setFrameShape(QFrame::StyledPanel);
    return area;
}

} // namespace ui::look
