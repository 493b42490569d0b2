#include "ModelTesting.h"
#include "Tones.h"
#include "speech/Dictation.h"
#include "speech/Engine.h"
#include "text/Transcript.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

namespace {

using speech::DictationSession;
using speech::Engine;

constexpr size_t frame = 320;

// Passes everything to the real engine and notes the size of every piece it decodes.
class RecordingEngine : public speech::Recognizer {
public:
    explicit RecordingEngine(std::shared_ptr<Engine> engine) : engine(std::move(engine)) {}
    core::SerialQueue& queue() override { return engine->queue(); }
    std::string transcribe(const std::vector<float>& samples) override {
        sizes.push_back(samples.size());
        return engine->transcribe(samples);
    }
    std::shared_ptr<Engine> engine;
    std::vector<size_t> sizes; // touched only on the queue
};

// A dictation of phrases separated by pauses, built so that every tone starts on a 20 ms frame.
struct Dictation {
    tones::Samples audio;
    std::vector<size_t> speechEnds; // sample just after each phrase's last tone
};

Dictation dictation(const std::vector<std::string>& phrases, double pauseSeconds) {
    Dictation result;
    result.audio = tones::silence(0.1);
    for (const auto& phrase : phrases) {
        tones::append(result.audio, tones::speech(phrase));
        // speech() ends with the 60 ms gap after the last tone.
        result.speechEnds.push_back(result.audio.size() - 960);
        tones::append(result.audio, tones::silence(pauseSeconds));
    }
    return result;
}

void feedInChunks(DictationSession& session, const tones::Samples& audio) {
    for (size_t at = 0; at < audio.size(); at += frame) {
        session.feed(tones::Samples(audio.begin() + static_cast<std::ptrdiff_t>(at),
                                    audio.begin() + static_cast<std::ptrdiff_t>(std::min(at + frame, audio.size()))));
    }
}

std::future<std::string> finish(DictationSession& session) {
    auto promise = std::make_shared<std::promise<std::string>>();
    session.finish([promise](std::string text) { promise->set_value(std::move(text)); });
    return promise->get_future();
}

class DictationWithModel : public ::testing::Test {
protected:
    modeltesting::ScopedEnv noVocab{"RUVEX_VOICE_BPE_VOCAB", std::nullopt};
    std::shared_ptr<Engine> engine = std::make_shared<Engine>(tones::modelDirectory(), std::nullopt);
};

TEST_F(DictationWithModel, PiecesAreCutInThePausesAndJoinedInSpeakingOrder) {
    std::vector<std::string> phrases = {"съешь же ещё этих мягких", "французских булок , да выпей чаю",
                                        "привет мир как дела", "ёж юла кто-то"};
    Dictation spoken = dictation(phrases, 1.0);
    // The last phrase is still being spoken when the key comes up.
    spoken.audio.resize(spoken.speechEnds.back() + 960);

    auto recording = std::make_shared<RecordingEngine>(engine);
    DictationSession session(recording);
    feedInChunks(session, spoken.audio);
    std::string text = finish(session).get();

    EXPECT_EQ(text, text::Transcript::joinPieces({"съешь же ещё этих мягких", "французских булок, да выпей чаю",
                                                  "привет мир как дела", "ёж юла кто-то"}));
    // Every phrase is longer than 2.5 s, so each cut lands 12 frames into the pause after it.
    std::vector<size_t> expected = {DictationSession::warmUp().size()};
    size_t start = 0;
    for (size_t i = 0; i + 1 < phrases.size(); ++i) {
        size_t cut = spoken.speechEnds[i] + 12 * frame;
        expected.push_back(cut - start);
        start = cut;
    }
    expected.push_back(spoken.audio.size() - start);
    EXPECT_EQ(recording->sizes, expected);
    EXPECT_NEAR(session.seconds, static_cast<double>(spoken.audio.size()) / 16000.0, 1e-9);
}

} // namespace
