#include "speech/Recorder.h"

#include "speech/Dictation.h"

#include <utility>

namespace speech {

Recorder::Failure::Failure(Case which) : std::runtime_error("Нет доступа к микрофону"), which(which) {}

Recorder::Recorder(core::MainQueue& main, std::unique_ptr<platform::AudioSource> source)
    : main(main), source(std::move(source)) {
    // The audio thread only posts the copied block; measuring and delivering happen on the queue.
    this->source->onSamples = [this](std::vector<float> block) {
        audio.post([this, block = std::move(block)] { deliver(block); });
    };
    this->source->onLost = [this] {
        this->main.post([token = std::weak_ptr<int>(alive), this] {
            if (!token.expired() && onLost)
                onLost();
        });
    };
}

Recorder::~Recorder() {
    source->stop();
}

void Recorder::start() {
    if (!source->start()) {
        throw Failure(Failure::microphone);
    }
}

void Recorder::stop(std::function<void()> then) {
    // The source hands over everything it holds before stop() returns, so `then` is queued after
    // the last block.
    source->stop();
    audio.post([then = std::move(then)] {
        if (then)
            then();
    });
}

void Recorder::deliver(const std::vector<float>& samples) {
    if (samples.empty())
        return;
    const float rms = rootMeanSquare(samples.data(), samples.size());
    main.post([token = std::weak_ptr<int>(alive), this, rms] {
        if (!token.expired() && onLevel)
            onLevel(rms);
    });
    if (onSamples)
        onSamples(samples);
}

} // namespace speech
