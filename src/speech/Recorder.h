#pragma once

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "platform/AudioSource.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace speech {

/// Captures the default microphone for one dictation and hands the audio on as 32-bit float
/// chunks, 16 000 samples per second, one channel. onSamples runs on the recorder's own serial
/// queue ("ruvex.voice.audio"), and so does the completion of stop(): the owner therefore has
/// every chunk before it is told the capture ended, without a lock. Created, started, stopped
/// and destroyed on the main thread.
class Recorder {
public:
    /// Capture could not start; what() is the text shown to the user.
    class Failure : public std::runtime_error {
    public:
        enum Case { microphone };
        explicit Failure(Case which = microphone);
        Case which;
    };

    /// A recorder reading `source`; `main` receives the onLevel calls.
    Recorder(core::MainQueue& main, std::unique_ptr<platform::AudioSource> source);
    /// Stops capture if it still runs; queued chunks are still delivered.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    /// Begins capture. Throws Failure when there is no sound server, no default input, or the
    /// capture cannot start.
    void start();

    /// Ends capture; `then` runs on `queue()` after onSamples has had every chunk captured before
    /// the stop.
    void stop(std::function<void()> then);

    core::SerialQueue& queue() { return audio; }

    /// Called on queue() with each chunk (never empty). Set before start().
    std::function<void(const std::vector<float>&)> onSamples;
    /// Called on the main thread with each chunk's root mean square. Set before start().
    std::function<void(float)> onLevel;
    /// Called on the main thread when the capture ended by itself (the sound server went away); the
    /// chunks captured before are kept, and stop() still delivers them. Set before start().
    std::function<void()> onLost;

private:
    void deliver(const std::vector<float>& samples);

    core::MainQueue& main;
    // Checked on the main thread by the posted onLevel calls: they do nothing once the recorder
    // is gone.
    std::shared_ptr<int> alive = std::make_shared<int>(0);
    core::SerialQueue audio{"ruvex.voice.audio"};
    // Declared last: destroyed (and so stopped) first, while the queue still takes its blocks.
    std::unique_ptr<platform::AudioSource> source;
};

} // namespace speech
