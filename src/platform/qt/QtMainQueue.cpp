#include "platform/qt/QtMainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace platform::qt {

void QtMainQueue::post(std::function<void()> work) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

void QtMainQueue::postAfter(double seconds, std::function<void()> work) {
    auto delay = std::chrono::milliseconds(static_cast<long long>(std::ceil(std::max(0.0, seconds) * 1000.0)));
    // Timers start only on a thread with a Qt event loop: hand the start to the main thread first.
    post([delay, work = std::move(work)]() mutable {
        QTimer::singleShot(delay, QCoreApplication::instance(), std::move(work));
    });
}

} // namespace platform::qt
