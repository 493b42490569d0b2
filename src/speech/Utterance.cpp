#include "speech/Utterance.h"

#include "speech/Dictation.h"
#include "speech/Recorder.h"

#include <utility>

namespace speech {

Utterance::Utterance(core::MainQueue& main, std::shared_ptr<Recognizer> engine,
                     std::unique_ptr<platform::AudioSource> microphone)
    : session(std::make_shared<DictationSession>(std::move(engine))),
      recorder(std::make_unique<Recorder>(main, std::move(microphone))) {
    recorder->onSamples = [session = session](const std::vector<float>& samples) { session->feed(samples); };
    // The recorder posts levels only while it lives, and it lives no longer than this object.
    recorder->onLevel = [this](float value) {
        if (onLevel)
            onLevel(value);
    };
    recorder->onLost = [this] {
        if (onLost)
            onLost();
    };
}

Utterance::~Utterance() = default;

void Utterance::start() {
    try {
        recorder->start();
    } catch (...) {
        session->cancel();
        throw;
    }
}

void Utterance::finish(std::function<void(std::string)> completion) {
    // Runs on the audio queue after the last chunk: the session has heard everything.
    recorder->stop(
        [session = session, completion = std::move(completion)]() mutable { session->finish(std::move(completion)); });
}

void Utterance::cancel() {
    recorder->stop([session = session] { session->cancel(); });
}

} // namespace speech
