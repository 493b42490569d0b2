#pragma once

#include "core/MainQueue.h"

#include <functional>
#include <memory>

class QObject;

namespace platform::qt {

/// The main queue over the Qt event loop of the application's main thread; posting is safe from
/// any thread. Create it on the main thread. Work still waiting when the queue is destroyed is
/// dropped, so nothing runs against objects destroyed with its owner.
class QtMainQueue : public core::MainQueue {
public:
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void post(std::function<void()> work) override;
    void postAfter(double seconds, std::function<void()> work) override;

private:
    /// Lives on the main thread; queued calls and timers bound to it die with it.
    std::unique_ptr<QObject> context;
};

} // namespace platform::qt
