#pragma once

#include "platform/AudioSource.h"

#include <memory>

namespace platform::lnx {

/// The default input of the PulseAudio server (PipeWire desktops serve the same protocol), read
/// through a record stream on libpulse's threaded main loop in 20 ms fragments. Never starts a
/// server of its own. Every wait for the server is bounded, so a hung server reads as absent.
class PulseAudioSource final : public AudioSource {
public:
    PulseAudioSource();
    ~PulseAudioSource() override;

    bool start() override;
    void stop() override;

    /// Checks the server and its default input: reachable, present, not a monitor of an output,
    /// not muted. Blocks for at most a few seconds; call it off the audio path.
    static MicrophoneState microphoneState();

private:
    struct Session;
    std::unique_ptr<Session> session;
};

} // namespace platform::lnx
