#include "platform/qt/QtMainQueue.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace platform::qt {

QtMainQueue::QtMainQueue() = default;

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(std::function<void()> work) {
    // A queued call keeps the order of posts, from the GUI thread and from any other thread.
    QMetaObject::invokeMethod(
        &context, [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

void QtMainQueue::postAfter(double seconds, std::function<void()> work) {
    const int milliseconds = static_cast<int>(std::ceil(std::max(0.0, seconds) * 1000));
    // Timers belong to the thread that starts them: hop to the GUI thread first.
    post([this, milliseconds, work = std::move(work)]() mutable {
        QTimer::singleShot(milliseconds, Qt::PreciseTimer, &context, [work = std::move(work)] { work(); });
    });
}

} // namespace platform::qt
