#include "platform/qt/QtMainQueue.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace platform::qt {

QtMainQueue::QtMainQueue() : context(std::make_unique<QObject>()) {}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(std::function<void()> work) {
    // A queued call keeps the order of posts, from the main thread and from any other thread.
    QMetaObject::invokeMethod(context.get(), std::move(work), Qt::QueuedConnection);
}

void QtMainQueue::postAfter(double seconds, std::function<void()> work) {
    const auto delay = std::chrono::milliseconds(static_cast<long long>(std::ceil(std::max(0.0, seconds) * 1000.0)));
    // Timers start only on a thread with a Qt event loop: hand the start to the main thread first.
    QObject* target = context.get();
    post([target, delay, work = std::move(work)]() mutable {
        QTimer::singleShot(delay, Qt::PreciseTimer, target, std::move(work));
    });
}

} // namespace platform::qt
