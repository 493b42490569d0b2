#pragma once

#include "core/MainQueue.h"

#include <QObject>

#include <functional>

namespace platform::qt {

/// The main queue of the tray application: work runs on the Qt GUI thread, from its event loop.
/// Callable from any thread. Work still waiting when the queue is destroyed is dropped.
/// Create it on the GUI thread, after the QApplication.
class QtMainQueue : public core::MainQueue {
public:
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void post(std::function<void()> work) override;
    void postAfter(double seconds, std::function<void()> work) override;

private:
    /// Lives on the GUI thread; queued calls and timers bound to it die with it.
    QObject context;
};

} // namespace platform::qt
