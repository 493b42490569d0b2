#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace core {

/// A named worker thread that runs submitted closures one at a time, in submission order.
/// The engine ("ruvex.voice.engine") and audio ("ruvex.voice.audio") queues are instances of it.
/// Destruction runs everything already submitted, then joins the thread.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    /// Submits `work` to run after everything submitted before it. Callable from any thread,
    /// including the queue itself. Work submitted while the queue is being destroyed still runs.
    void post(std::function<void()> work);

    /// Runs `work` on the queue and waits for it. Must not be called from the queue itself.
    void sync(const std::function<void()>& work);

    /// True when called from this queue's own thread.
    bool isCurrent() const;

    const std::string& label() const { return name; }

private:
    // Shared with the worker so that a queue released from inside one of its own closures
    // can let the worker finish on its own.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::function<void()>> pending;
        bool stopping = false;
    };
    static void loop(const std::shared_ptr<State>& state);

    std::string name;
    std::shared_ptr<State> state = std::make_shared<State>();
    std::thread worker;
};

} // namespace core
