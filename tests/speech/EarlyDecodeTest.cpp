#include "ModelTesting.h"
#include "Tones.h"
#include "speech/Dictation.h"
#include "speech/Engine.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

namespace {

using speech::DictationSession;

// Passes everything to the real engine and counts the decodes before and after the release.
class CountingEngine : public speech::Recognizer {
public:
    explicit CountingEngine(std::shared_ptr<speech::Engine> engine) : engine(std::move(engine)) {}
    core::SerialQueue& queue() override { return engine->queue(); }
    std::string transcribe(const std::vector<float>& samples) override {
        ++(released ? afterRelease : beforeRelease);
        return engine->transcribe(samples);
    }
    std::shared_ptr<speech::Engine> engine;
    // Touched only on the queue.
    bool released = false;
    int beforeRelease = 0;
    int afterRelease = 0;
};

struct Outcome {
    std::string text;
    int decodes = 0;      // in all, the warm-up included
    int afterRelease = 0; // decodes between the release and the text
};

// Feeds 20 ms chunks and lets the engine finish its work after each one, so that the queue is idle
// whenever the session looks, as it is in real time when decoding keeps up with speech.
Outcome dictate(const std::shared_ptr<speech::Engine>& real, const tones::Samples& audio, bool speculate) {
    auto engine = std::make_shared<CountingEngine>(real);
    DictationSession session(engine, speculate);
    for (size_t at = 0; at < audio.size(); at += speech::PauseCutter::frame) {
        session.feed(tones::Samples(
            audio.begin() + static_cast<std::ptrdiff_t>(at),
            audio.begin() + static_cast<std::ptrdiff_t>(std::min(at + speech::PauseCutter::frame, audio.size()))));
        engine->queue().sync([] {});
    }
    engine->queue().sync([&] { engine->released = true; });
    std::promise<std::string> text;
    session.finish([&text](std::string joined) { text.set_value(std::move(joined)); });
    Outcome outcome{text.get_future().get(), 0, 0};
    engine->queue().sync([&] {
        outcome.decodes = engine->beforeRelease + engine->afterRelease;
        outcome.afterRelease = engine->afterRelease;
    });
    return outcome;
}

class Speculation : public ::testing::Test {
protected:
    modeltesting::ScopedEnv noVocab{"RUVEX_VOICE_BPE_VOCAB", std::nullopt};
    std::shared_ptr<speech::Engine> engine = std::make_shared<speech::Engine>(tones::modelDirectory(), std::nullopt);
};

TEST_F(Speculation, TheTextIsTheSameWithAndWithoutItWhereverTheKeyComesUp) {
    // Two phrases long enough to be cut at the pauses after them, then the last one.
    tones::Samples spoken = tones::silence(0.1);
    for (const char* phrase : {"съешь же ещё этих мягких", "французских булок , да выпей чаю"}) {
        tones::append(spoken, tones::speech(phrase));
        tones::append(spoken, tones::silence(1.0));
    }
    tones::append(spoken, tones::speech("привет мир"));
    const size_t lastTone = spoken.size() - 960; // speech() ends with a 60 ms gap
    struct Release {
        const char* when;
        size_t at;
        bool speculated; // the flushed piece takes the speculative text
    };
    const std::vector<Release> releases = {
        {"during the last tone", lastTone - 800, false},
        {"just after the last word", lastTone + 1600, false},
        {"a quarter of a second after", lastTone + 4800, true},
        {"0.4 s after", lastTone + 6400, true},
        {"long after", lastTone + 32000, false}, // cut at the pause; the rest is silence and dropped
    };
    for (const auto& release : releases) {
        tones::Samples audio = spoken;
        audio.resize(release.at, 0.0f);
        Outcome with = dictate(engine, audio, true);
        Outcome without = dictate(engine, audio, false);
        EXPECT_EQ(with.text, without.text) << release.when;
        EXPECT_NE(with.text.find("булок, да выпей чаю"), std::string::npos) << release.when << ": " << with.text;
        // The speculative decodes stood in for the pieces cut at the pauses: none was decoded twice.
        EXPECT_EQ(with.decodes, without.decodes) << release.when;
        EXPECT_EQ(with.afterRelease, release.speculated ? 0 : without.afterRelease) << release.when;
    }
}

TEST_F(Speculation, IsNeverUsedWhenSpeechFollowedIt) {
    tones::Samples audio = tones::silence(0.1);
    tones::append(audio, tones::speech("привет мир как дела"));
    tones::append(audio, tones::silence(0.34)); // with its 60 ms gap: 0.4 s, speculated, not cut
    for (const char* after : {"да", "_"}) {
        tones::Samples more = audio;
        tones::append(more, tones::speech(after)); // one more word, or a lone word mark
        tones::append(more, tones::silence(0.1));
        Outcome with = dictate(engine, more, true);
        Outcome without = dictate(engine, more, false);
        EXPECT_EQ(with.text, without.text) << after;
        EXPECT_EQ(with.afterRelease, 1) << after;
        EXPECT_EQ(with.decodes, 3) << after << ": the warm-up, the speculation and the flushed piece";
    }
    EXPECT_EQ(dictate(engine, audio, true).afterRelease, 0) << "the same audio without the word after it";
}

} // namespace
