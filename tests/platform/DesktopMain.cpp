// The entry of the desktop tests: a Qt GUI application on the xcb platform owns the clipboard on this
// thread, which makes it the main thread. Without a display the tests skip.
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QGuiApplication> application;
    const char* display = std::getenv("DISPLAY");
    if (display != nullptr && *display != '\0') {
        qputenv("QT_QPA_PLATFORM", "xcb");
        application = std::make_unique<QGuiApplication>(argc, argv);
    }
    return RUN_ALL_TESTS();
}
