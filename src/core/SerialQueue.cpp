#include "core/SerialQueue.h"

#include <pthread.h>

#include <future>
#include <stdexcept>

namespace core {

SerialQueue::SerialQueue(std::string label) : name(std::move(label)) {
    worker = std::thread([s = state] { loop(s); });
    // Thread names are limited to 15 bytes; the tail of the label is the informative part.
    std::string shortName = name.size() > 15 ? name.substr(name.size() - 15) : name;
    pthread_setname_np(worker.native_handle(), shortName.c_str());
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(state->mutex);
        state->stopping = true;
    }
    state->wake.notify_one();
    if (worker.get_id() == std::this_thread::get_id()) {
        // The last owner let go from inside one of our own closures: the worker drains and ends by itself.
        worker.detach();
    } else {
        worker.join();
    }
}

void SerialQueue::post(std::function<void()> work) {
    {
        std::lock_guard lock(state->mutex);
        state->pending.push_back(std::move(work));
    }
    state->wake.notify_one();
}

void SerialQueue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        throw std::logic_error("SerialQueue::sync called from its own queue: " + name);
    }
    std::promise<void> done;
    post([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

bool SerialQueue::isCurrent() const {
    return worker.get_id() == std::this_thread::get_id();
}

void SerialQueue::loop(const std::shared_ptr<State>& state) {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait(lock, [&] { return state->stopping || !state->pending.empty(); });
            if (state->pending.empty()) {
                return; // stopping, and everything submitted has run
            }
            work = std::move(state->pending.front());
            state->pending.pop_front();
        }
        work();
    }
}

} // namespace core
