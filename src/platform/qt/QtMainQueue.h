#pragma once

#include "core/MainQueue.h"

namespace platform::qt {

/// The main queue over the Qt event loop of the application's main thread. Needs a
/// QCoreApplication for as long as work is posted; posting is safe from any thread.
class QtMainQueue : public core::MainQueue {
public:
    void post(std::function<void()> work) override;
    void postAfter(double seconds, std::function<void()> work) override;
};

} // namespace platform::qt
