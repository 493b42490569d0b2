#include "fakes/FakeRecognizer.h"
#include "speech/Dictation.h"
#include "text/Transcript.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using speech::DictationSession;
using speech::Samples;

constexpr size_t frame = 320;

// One spoken phrase for the fake: 2.8 s at a level that names it, then 0.6 s of silence.
Samples phrase(int word, bool pauseAfter = true) {
    Samples audio(140 * frame, 0.1f * static_cast<float>(word));
    if (pauseAfter) {
        audio.resize(audio.size() + 30 * frame, 0.0f);
    }
    return audio;
}

void feedInChunks(DictationSession& session, const Samples& audio, size_t chunk = frame) {
    for (size_t at = 0; at < audio.size(); at += chunk) {
        session.feed(Samples(audio.begin() + static_cast<std::ptrdiff_t>(at),
                             audio.begin() + static_cast<std::ptrdiff_t>(std::min(at + chunk, audio.size()))));
    }
}

struct Result {
    std::string text;
    bool onQueue = false;
};

std::future<Result> finish(DictationSession& session, fakes::FakeRecognizer& engine) {
    auto promise = std::make_shared<std::promise<Result>>();
    session.finish([promise, &engine](std::string text) {
        promise->set_value({std::move(text), engine.queue().isCurrent()});
    });
    return promise->get_future();
}

// Holds the recogniser's queue until released, so that work piles up behind it.
std::promise<void> holdQueue(fakes::FakeRecognizer& engine) {
    std::promise<void> gate;
    engine.queue().post([opened = gate.get_future().share()] { opened.wait(); });
    return gate;
}

TEST(DictationSession, RecognisesPiecesWhileFedAndJoinsThemInOrderOnTheQueue) {
    auto engine = std::make_shared<fakes::FakeRecognizer>();
    DictationSession session(engine);
    for (int word = 1; word <= 3; ++word) {
        feedInChunks(session, phrase(word));
    }
    feedInChunks(session, phrase(4, false));

    size_t decodedBeforeFinish = 0;
    engine->queue().sync([&] { decodedBeforeFinish = engine->pieces.size(); });
    EXPECT_EQ(decodedBeforeFinish, 4u) << "the warm-up and three pieces, before the key is released";

    Result result = finish(session, *engine).get();
    EXPECT_EQ(result.text, text::Transcript::joinPieces({"слово1", "слово2", "слово3", "слово4"}));
    EXPECT_TRUE(result.onQueue);
    ASSERT_EQ(engine->pieces.size(), 5u);
    EXPECT_EQ(engine->pieces[0], DictationSession::warmUp());
    EXPECT_EQ(DictationSession::warmUp(), Samples(8000, 0.0f));
    EXPECT_EQ(engine->pieces[1].size(), 152 * frame);
    EXPECT_FALSE(engine->offQueue);
}

TEST(DictationSession, AShortPressEndsWithTheJoinOfNothing) {
    auto engine = std::make_shared<fakes::FakeRecognizer>();
    DictationSession session(engine);
    session.feed(Samples(1000, 0.5f));
    EXPECT_EQ(finish(session, *engine).get().text, text::Transcript::joinPieces({}));
    EXPECT_EQ(engine->pieces.size(), 1u);
}

TEST(DictationSession, CancelLetsEarlierPiecesRunAndSkipsEverythingAfter) {
    auto engine = std::make_shared<fakes::FakeRecognizer>();
    auto gate = holdQueue(*engine);
    std::future<Result> result;
    {
        DictationSession session(engine);
        for (int word = 1; word <= 3; ++word) {
            feedInChunks(session, phrase(word));
        }
        session.cancel();
        feedInChunks(session, phrase(4));
        feedInChunks(session, phrase(5, false));
        result = finish(session, *engine);
    }
    gate.set_value();
    EXPECT_EQ(result.get().text, "");
    EXPECT_EQ(engine->pieces.size(), 4u) << "the warm-up and the three pieces submitted before the cancel";
}

TEST(DictationSession, CountsSecondsOfEverySampleFedInAnyChunking) {
    auto engine = std::make_shared<fakes::FakeRecognizer>();
    for (size_t chunk : {1u, 7u, 320u, 48000u}) {
        DictationSession session(engine);
        feedInChunks(session, Samples(48000, 0.0f), chunk);
        EXPECT_NEAR(session.seconds, 3.0, 1e-9) << chunk;
        session.cancel();
    }
}

TEST(DictationSession, ASecondSessionQueuesBehindTheFirst) {
    auto engine = std::make_shared<fakes::FakeRecognizer>();
    auto gate = holdQueue(*engine);
    std::vector<std::string> completions; // touched only on the queue
    std::promise<void> bothDone;
    {
        DictationSession first(engine);
        feedInChunks(first, phrase(1));
        feedInChunks(first, phrase(2, false));
        first.finish([&](std::string text) { completions.push_back(text); });
        DictationSession second(engine);
        feedInChunks(second, phrase(3, false));
        second.finish([&](std::string text) {
            completions.push_back(text);
            bothDone.set_value();
        });
    }
    gate.set_value();
    bothDone.get_future().wait();
    EXPECT_EQ(completions, (std::vector<std::string>{text::Transcript::joinPieces({"слово1", "слово2"}),
                                                     text::Transcript::joinPieces({"слово3"})}));
    ASSERT_EQ(engine->pieces.size(), 5u);
    EXPECT_EQ(engine->pieces[0], DictationSession::warmUp());
    EXPECT_EQ(engine->pieces[3], DictationSession::warmUp());
}

TEST(DictationSession, TheLastBlockMayReleaseTheEngine) {
    auto engine = std::make_shared<fakes::FakeRecognizer>();
    std::weak_ptr<fakes::FakeRecognizer> watch = engine;
    auto gate = holdQueue(*engine);
    auto done = std::make_shared<std::promise<std::string>>();
    {
        DictationSession session(engine);
        feedInChunks(session, phrase(1, false));
        session.finish([done](std::string text) { done->set_value(std::move(text)); });
    }
    engine.reset(); // only the queued blocks hold the engine now
    gate.set_value();
    EXPECT_EQ(done->get_future().get(), text::Transcript::joinPieces({"слово1"}));
    while (!watch.expired()) {
        std::this_thread::yield();
    }
}

} // namespace
