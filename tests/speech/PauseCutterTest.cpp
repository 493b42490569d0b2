#include "speech/Dictation.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using speech::PauseCutter;
using speech::Samples;

constexpr size_t frame = PauseCutter::frame;

// Constant (DC) frames: their level is exactly the value for powers of two.
Samples frames(size_t count, float value) {
    return Samples(count * frame, value);
}

Samples join(std::initializer_list<Samples> parts) {
    Samples out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

std::vector<size_t> sizes(const std::vector<Samples>& pieces) {
    std::vector<size_t> result;
    for (const auto& piece : pieces) {
        result.push_back(piece.size());
    }
    return result;
}

// Feeds in 20 ms chunks, as the capture does, collecting every piece.
std::vector<Samples> feedInChunks(PauseCutter& cutter, const Samples& audio, size_t chunk = frame) {
    std::vector<Samples> pieces;
    for (size_t at = 0; at < audio.size(); at += chunk) {
        Samples part(audio.begin() + static_cast<std::ptrdiff_t>(at),
                     audio.begin() + static_cast<std::ptrdiff_t>(std::min(at + chunk, audio.size())));
        for (auto& piece : cutter.feed(part)) {
            pieces.push_back(std::move(piece));
        }
    }
    return pieces;
}

TEST(PauseCutter, EmptyChunksAndTinyRecordingsYieldNothing) {
    PauseCutter cutter;
    EXPECT_EQ(cutter.threshold(), 0.0f);
    EXPECT_TRUE(cutter.feed({}).empty());
    EXPECT_EQ(cutter.threshold(), 0.0f);
    EXPECT_TRUE(cutter.feed(Samples(1599, 0.5f)).empty());
    EXPECT_TRUE(cutter.flush().empty());
    EXPECT_EQ(cutter.dropped, 0);
}

TEST(PauseCutter, ThresholdInterpolatesPercentilesOfEveryLevelHeard) {
    PauseCutter cutter;
    cutter.feed(join(
        {frames(1, 1.0f), frames(1, 0.5f), frames(1, 0.25f), frames(1, 0.125f), frames(1, 0.0f), frames(1, 0.0625f)}));
    // Sorted 0, 1/16, 1/8, 1/4, 1/2, 1: the 10th percentile sits halfway between the first two
    // values, the 90th halfway between the last two.
    float low = 0.03125f;
    float high = 0.75f;
    EXPECT_FLOAT_EQ(cutter.threshold(), low + (high - low) * 0.15f);

    // A trailing partial frame is not measured until it is complete.
    cutter.feed(Samples(frame - 1, 1.0f));
    EXPECT_FLOAT_EQ(cutter.threshold(), low + (high - low) * 0.15f);

    PauseCutter quiet;
    quiet.feed(frames(10, 0.001f));
    EXPECT_EQ(quiet.threshold(), 0.004f);
}

TEST(PauseCutter, CutsHalfwayIntoAPauseOfHalfASecondAfterTheSearchStart) {
    PauseCutter cutter;
    auto pieces = feedInChunks(cutter, join({frames(130, 0.5f), frames(25, 0.0f), frames(45, 0.5f)}));
    ASSERT_EQ(sizes(pieces), std::vector<size_t>{142 * frame});
    // The next piece starts with the rest of the pause.
    auto rest = cutter.flush();
    ASSERT_EQ(sizes(rest), std::vector<size_t>{58 * frame});
    EXPECT_EQ(rest[0][13 * frame - 1], 0.0f);
    EXPECT_EQ(rest[0][13 * frame], 0.5f);
    EXPECT_EQ(cutter.dropped, 0);
}

TEST(PauseCutter, ShortGapsAndQuietBeforeTheSearchStartDoNotCut) {
    PauseCutter gap;
    EXPECT_TRUE(feedInChunks(gap, join({frames(130, 0.5f), frames(20, 0.0f), frames(200, 0.5f)})).empty());

    // 30 quiet frames, but only 15 of them lie at or after frame 125.
    PauseCutter early;
    EXPECT_TRUE(feedInChunks(early, join({frames(110, 0.5f), frames(30, 0.0f), frames(200, 0.5f)})).empty());
}

TEST(PauseCutter, ForcedCutWaitsForEightSecondsAndTakesTheEarliestQuietestPoint) {
    // Half a second of silence first keeps the threshold low, so the speech passes the loudness test.
    // Frames 299..301 are quieter; the smoothed scores at window positions 49, 50 and 51 all cover
    // the three of them and are equal, and the earliest wins.
    Samples audio = join({frames(50, 0.0f), frames(249, 0.5f), frames(3, 0.125f), frames(98, 0.5f)});
    PauseCutter cutter;
    Samples allButLast(audio.begin(), audio.end() - frame);
    EXPECT_TRUE(feedInChunks(cutter, allButLast).empty());
    auto pieces = cutter.feed(Samples(frame, 0.5f));
    EXPECT_EQ(sizes(pieces), std::vector<size_t>{299 * frame});
}

TEST(PauseCutter, ForcedCutScoresTheWindowEdgesOverFiveValues) {
    // Only three values are summed at the window's first position, yet the divisor stays five, so
    // that edge beats a single quieter frame in the middle.
    Samples audio = join({frames(50, 0.0f), frames(270, 0.5f), frames(1, 0.125f), frames(79, 0.5f)});
    PauseCutter cutter;
    auto pieces = feedInChunks(cutter, audio);
    EXPECT_EQ(sizes(pieces), std::vector<size_t>{250 * frame});
}

TEST(PauseCutter, OneLargeFeedCutsLikeSmallChunks) {
    // 20 s of phrases with pauses between them.
    Samples audio;
    for (int i = 0; i < 6; ++i) {
        audio = join({audio, frames(140 + 10 * static_cast<size_t>(i), 0.5f), frames(30, 0.0f)});
    }
    PauseCutter whole;
    auto once = whole.feed(audio);
    PauseCutter chunked;
    auto inChunks = feedInChunks(chunked, audio, 317);
    EXPECT_GE(once.size(), 4u);
    EXPECT_EQ(once, inChunks);
    EXPECT_EQ(whole.flush(), chunked.flush());
}

TEST(PauseCutter, DropsPiecesNoLouderThanTheThresholdAndCountsThem) {
    PauseCutter silence;
    // 500 frames of silence: cuts at 137 frames three times, the flushed rest is dropped too.
    EXPECT_TRUE(feedInChunks(silence, frames(500, 0.0f)).empty());
    EXPECT_EQ(silence.dropped, 3);
    EXPECT_TRUE(silence.flush().empty());
    EXPECT_EQ(silence.dropped, 4);

    PauseCutter noise;
    EXPECT_TRUE(feedInChunks(noise, frames(200, 0.003f)).empty());
    EXPECT_TRUE(noise.flush().empty());
    EXPECT_EQ(noise.dropped, 2);

    // The owner may reset the counter.
    noise.dropped = 0;
    EXPECT_EQ(noise.dropped, 0);
}

TEST(PauseCutter, FlushReturnsTheRestIncludingAPartialFrame) {
    PauseCutter cutter;
    Samples audio = join({frames(5, 0.0f), frames(20, 0.5f), Samples(7, 0.5f)});
    EXPECT_TRUE(cutter.feed(audio).empty());
    auto rest = cutter.flush();
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0], audio);
}

} // namespace
