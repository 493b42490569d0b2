#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

namespace ui {

/// The small symbols of the first-run window, each `size` pixels square in `color`: taken from the icon
/// theme when it has them, drawn otherwise.
enum class Mark { checkmarkCircleFill, arrowDownCircle, circle, keyboard };

QPixmap markPixmap(Mark mark, int size, const QColor& color);

/// The symbol's name, for tests and accessibility ("checkmark.circle.fill", "arrow.down.circle", ...).
QString markName(Mark mark);

} // namespace ui
