#pragma once

#include "platform/AudioSource.h"

#include <mutex>
#include <vector>

namespace fakes {

/// An audio source driven by the test: deliver() hands a block on (from any thread, as a real audio
/// thread would) only while started, like a real source that has ended.
class FakeAudioSource : public platform::AudioSource {
public:
    bool start() override {
        std::lock_guard lock(mutex);
        ++starts;
        return running = startResult;
    }
    void stop() override {
        std::lock_guard lock(mutex);
        ++stops;
        running = false;
    }
    void deliver(std::vector<float> block) {
        std::lock_guard lock(mutex);
        if (running && onSamples) {
            ++handedOn;
            onSamples(std::move(block));
        }
    }
    /// Ends capture by itself, as when the sound server goes away.
    void lose() {
        std::lock_guard lock(mutex);
        if (running && onLost) {
            running = false;
            onLost();
        }
    }
    /// How many blocks went to onSamples.
    int delivered() {
        std::lock_guard lock(mutex);
        return handedOn;
    }

    bool startResult = true;
    int starts = 0;
    int stops = 0;

private:
    std::mutex mutex;
    bool running = false;
    int handedOn = 0;
};

} // namespace fakes
