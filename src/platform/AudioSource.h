#pragma once

#include <functional>
#include <vector>

namespace platform {

/// Whether the default microphone can be used, in terms the first-run window can word.
enum class MicrophoneState {
    available,
    noServer, ///< no sound server answers
    noSource, ///< the server has no default input device
    monitor,  ///< the default input only echoes an output (no real microphone is chosen)
    muted,    ///< the default input is muted
};

/// Captures the default microphone as 32-bit float samples, 16 000 per second, one channel (the
/// sound server converts from the device's own format). Created, started and stopped on one
/// thread (the main thread); blocks arrive on the platform's audio thread.
class AudioSource {
public:
    static constexpr int sampleRate = 16000;

    AudioSource() = default;
    virtual ~AudioSource() = default;
    AudioSource(const AudioSource&) = delete;
    AudioSource& operator=(const AudioSource&) = delete;

    /// Begins capture and returns once audio flows; false when there is no server, no default
    /// input, or the capture cannot start. Nothing is left running after a false.
    virtual bool start() = 0;

    /// Ends capture. Everything the source had received is passed to onSamples before this returns;
    /// onSamples is not called afterwards. Does nothing when not started.
    virtual void stop() = 0;

    /// Called on the platform's audio thread with each captured block (never empty). It must only
    /// hand the block on (post it to a queue): the audio thread must not wait for anything.
    std::function<void(std::vector<float>)> onSamples;

    /// Called on the platform's audio thread, at most once per start, when capture ends by itself
    /// (the sound server went away, the device vanished), after every block received before. It must
    /// only hand the news on; the owner still calls stop().
    std::function<void()> onLost;
};

} // namespace platform
