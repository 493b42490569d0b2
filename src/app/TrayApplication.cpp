#include "app/TrayApplication.h"

#include "app/AppDelegate.h"
#include "app/SingleInstance.h"
#include "platform/qt/QtMainQueue.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace app {

int runTrayApplication(int argc, char** argv) {
    SingleInstance instance(SingleInstance::defaultFile());
    if (!instance.acquired()) {
        std::fputs("Ruvex Voice уже запущен.\n", stderr);
        return 0;
    }
    // The key monitor, the paste and the pill work through X11; under Wayland, through XWayland.
    const char* session = std::getenv("XDG_SESSION_TYPE");
    if (session && std::string_view(session) == "wayland" && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "xcb", 1);

    QApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("Ruvex Voice"));
    application.setQuitOnLastWindowClosed(false);
    platform::qt::QtMainQueue main;
    int status;
    {
        AppDelegate delegate(main);
        delegate.launch();
        status = application.exec();
    }
    return status;
}

} // namespace app
