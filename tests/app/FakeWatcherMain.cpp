// A desktop panel's StatusNotifierWatcher in a process of its own, for tests whose tray item lives in
// the test process itself: the item asks the watcher with a blocking call as it is created. Prints
// "ready" once the watcher's name is taken, then "item <bus name>" for each tray item that registers.
#include "FakeWatcher.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    FakeWatcher watcher;
    if (!watcher.registered()) {
        std::fputs("no session bus, or the watcher's name is taken\n", stderr);
        return 1;
    }
    watcher.onItem = [](const QString& item) {
        std::printf("item %s\n", item.toUtf8().constData());
        std::fflush(stdout);
    };
    std::puts("ready");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
