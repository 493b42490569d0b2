#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QString>

#include <filesystem>
#include <functional>

class QWidget;

namespace guitest {

/// The test program's application object, made on first use.
QApplication& app();

/// Processes events until `done` returns true; false when it has not after `boundSeconds`, a generous
/// bound that only keeps a broken test from hanging.
bool processUntil(const std::function<bool()>& done, double boundSeconds = 20);

/// Processes events until a fresh single-shot timer of `seconds` has fired: everything due before it has
/// run by then (timers fire in deadline order).
void processPast(double seconds);

/// The widget drawn into a transparent image at scale 1.
QImage render(QWidget& widget);

/// Saves the widget's picture as `name`.png in $RUVEX_SCREENSHOTS, else in the build folder's
/// screenshots/; returns the file written.
std::filesystem::path screenshot(QWidget& widget, const QString& name);

/// $RUVEX_SCREENSHOTS, else the build folder's screenshots/; created when missing.
std::filesystem::path screenshotFolder();

/// Perceived brightness of a pixel composited over black, 0 to 255.
int brightness(const QImage& image, int x, int y);

} // namespace guitest
