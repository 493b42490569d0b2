#pragma once

#include <QColor>
#include <QFont>

class QLabel;
class QPlainTextEdit;
class QWidget;

/// The fonts and text colours shared by the windows.
namespace ui::look {

/// Every size in these windows is counted in pixels at scale 1, fonts too, so that text keeps its
/// proportion to the pill and the windows whatever the screen's logical DPI: `points` is a pixel size.

/// The system font at `points` (pixels at scale 1) with `weight`.
QFont systemFont(double points, QFont::Weight weight = QFont::Normal);

/// The system's fixed-width font at `points` (pixels at scale 1), regular weight.
QFont monospaceFont(double points);

/// Text colours of decreasing emphasis, from the widget's palette: main text, secondary, tertiary.
QColor labelColor(const QWidget& widget);
QColor secondaryLabelColor(const QWidget& widget);
QColor tertiaryLabelColor(const QWidget& widget);

/// A label with `text`, `font` and `color` that wraps when `wrapping`.
QLabel* makeLabel(const QString& text, const QFont& font, bool wrapping, const QColor& color = QColor());

/// A bordered plain-text area in `font` whose text is inset 6 across and 8 down, with undo.
QPlainTextEdit* makeTextArea(const QFont& font);

} // namespace ui::look
