#include "app/TrayApplication.h"

#include "app/AppDelegate.h"
#include "app/Backend.h"
#include "app/SingleInstance.h"
#include "platform/qt/QtMainQueue.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace app {

int runTrayApplication(int argc, char** argv) {
    const Backend backend = Backend::probe();
    if (backend.kind == Backend::Kind::none) {
        // Qt would abort with its own English message; say what happened and what still works.
        std::fputs("Ruvex Voice: не найден графический сеанс, программе в лотке нужен рабочий стол. "
                   "Режимы командной строки работают и без него: ruvex-voice --help\n",
                   stderr);
        return 1;
    }
    SingleInstance instance(SingleInstance::defaultFile());
    if (!instance.acquired()) {
        std::fputs("Ruvex Voice уже запущен.\n", stderr);
        return 0;
    }
    // One line for bug reports: which session this is and what the program uses in it.
    std::fprintf(stderr, "Ruvex Voice: %s\n", backend.description().c_str());
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", backend.qtPlatform.c_str(), 1);

    QApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("Ruvex Voice"));
    application.setQuitOnLastWindowClosed(false);
    platform::qt::QtMainQueue main;
    int status;
    {
        AppDelegate delegate(main, backend.makeDesktop(main));
        delegate.launch();
        status = application.exec();
    }
    return status;
}

} // namespace app
