#include "speech/Recorder.h"

#include "core/RunLoop.h"
#include "fakes/FakeAudioSource.h"
#include "speech/Dictation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

using speech::Recorder;

namespace {

struct Capture {
    // Written on the audio queue only; read by the test after the queue has finished with them.
    std::vector<std::vector<float>> chunks;
    bool offQueue = false;
    bool afterThen = false;
    bool thenRan = false;
    bool thenOnQueue = false;
    std::size_t chunksAtThen = 0;
};

} // namespace

TEST(Recorder, StartFailureIsTheMicrophoneError) {
    core::RunLoop loop;
    auto owned = std::make_unique<fakes::FakeAudioSource>();
    owned->startResult = false;
    Recorder recorder(loop, std::move(owned));
    try {
        recorder.start();
        FAIL() << "start succeeded without a microphone";
    } catch (const Recorder::Failure& failure) {
        EXPECT_EQ(failure.which, Recorder::Failure::microphone);
        EXPECT_STREQ(failure.what(), "Нет доступа к микрофону");
    }
    EXPECT_EQ(recorder.queue().label(), "ruvex.voice.audio");
}

TEST(Recorder, ChunksReachTheQueueInOrderWithTheirLevelOnTheMainThread) {
    core::RunLoop loop;
    auto owned = std::make_unique<fakes::FakeAudioSource>();
    auto* source = owned.get();
    Capture capture;
    std::vector<float> levels;
    bool levelOffMain = false;
    const auto mainThread = std::this_thread::get_id();
    {
        Recorder recorder(loop, std::move(owned));
        recorder.onSamples = [&](const std::vector<float>& samples) {
            capture.offQueue |= !recorder.queue().isCurrent();
            capture.chunks.push_back(samples);
        };
        recorder.onLevel = [&](float level) {
            levelOffMain |= std::this_thread::get_id() != mainThread;
            levels.push_back(level);
        };
        recorder.start();
        std::thread audioThread([&] {
            source->deliver({0.6f, -0.8f});
            source->deliver({});
            source->deliver({0.5f, 0.5f, -0.5f, -0.5f});
        });
        audioThread.join();
        bool stopped = false;
        recorder.stop([&] { stopped = true; });
        recorder.queue().sync([] {});
        EXPECT_TRUE(stopped);
        loop.runUntil([&] { return levels.size() == 2; });
    }
    ASSERT_EQ(capture.chunks.size(), 2u) << "the empty block gives no chunk";
    EXPECT_EQ(capture.chunks[0], (std::vector<float>{0.6f, -0.8f}));
    EXPECT_EQ(capture.chunks[1].size(), 4u);
    EXPECT_FALSE(capture.offQueue);
    EXPECT_FALSE(levelOffMain);
    EXPECT_NEAR(levels[0], std::sqrt(0.5f), 1e-6);
    EXPECT_FLOAT_EQ(levels[1], 0.5f);
    EXPECT_EQ(speech::rootMeanSquare(nullptr, 0), 0.0f);
}

TEST(Recorder, StopCompletionFollowsEveryChunkDeliveredBeforeTheStop) {
    core::RunLoop loop;
    auto owned = std::make_unique<fakes::FakeAudioSource>();
    auto* source = owned.get();
    Capture capture;
    std::atomic<int> accepted{0}; // blocks offered by the audio thread so far
    auto recorder = std::make_unique<Recorder>(loop, std::move(owned));
    recorder->onSamples = [&](const std::vector<float>& samples) {
        capture.afterThen |= capture.thenRan;
        capture.chunks.push_back(samples);
    };
    int levels = 0;
    recorder->onLevel = [&](float) { ++levels; };
    recorder->start();
    // The audio thread keeps delivering while the main thread stops: whatever the source took
    // before its stop must reach onSamples before the completion.
    std::atomic<bool> go{false};
    std::thread audioThread([&] {
        while (!go)
            std::this_thread::yield();
        for (int i = 0; i < 2000; ++i) {
            source->deliver(std::vector<float>(320, 0.25f));
            accepted = i + 1;
        }
    });
    go = true;
    while (accepted < 200)
        std::this_thread::yield();
    recorder->stop([&] {
        capture.thenRan = true;
        capture.thenOnQueue = recorder->queue().isCurrent();
        capture.chunksAtThen = capture.chunks.size();
    });
    audioThread.join();
    const int taken = source->delivered();
    recorder->queue().sync([] {}); // `then` was queued before this
    recorder.reset();
    loop.runFor(0.05);
    EXPECT_EQ(levels, 0) << "level calls still queued for a destroyed recorder must do nothing";

    EXPECT_TRUE(capture.thenRan);
    EXPECT_TRUE(capture.thenOnQueue);
    EXPECT_FALSE(capture.afterThen);
    EXPECT_GE(capture.chunksAtThen, 200u);
    EXPECT_EQ(capture.chunksAtThen, static_cast<std::size_t>(taken));
    EXPECT_EQ(capture.chunks.size(), static_cast<std::size_t>(taken));
}
