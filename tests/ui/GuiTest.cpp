#include "GuiTest.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>

namespace guitest {

namespace {

/// Makes the application before any test, so fixtures may hold widgets.
class ApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override { app(); }
};

[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

} // namespace

QApplication& app() {
    static int argc = 1;
    static char name[] = "ruvex-ui-test";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

bool processUntil(const std::function<bool()>& done, double boundSeconds) {
    app();
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > boundSeconds * 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

void processPast(double seconds) {
    bool fired = false;
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, [&fired] { fired = true; });
    processUntil([&fired] { return fired; }, seconds + 20);
}

QImage render(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

std::filesystem::path screenshotFolder() {
    const char* folder = std::getenv("RUVEX_SCREENSHOTS");
    const std::filesystem::path path = folder ? folder : RUVEX_SCREENSHOTS_DIR;
    std::filesystem::create_directories(path);
    return path;
}

std::filesystem::path screenshot(QWidget& widget, const QString& name) {
    const std::filesystem::path file = screenshotFolder() / (name.toStdString() + ".png");
    widget.grab().save(QString::fromStdString(file.string()));
    return file;
}

int brightness(const QImage& image, int x, int y) {
    const QColor c = image.pixelColor(x, y); // premultiplied storage comes back unpremultiplied
    return static_cast<int>((c.red() * 0.3 + c.green() * 0.59 + c.blue() * 0.11) * c.alphaF());
}

} // namespace guitest
