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

// Feeds in chunks (20 ms, as the capture does), collecting every piece.
std::vector<Samples> feedInChunks(PauseCutter& cutter, const Samples& audio, size_t chunk = frame) {
    std::vector<Samples> pieces;
    for (size_t at = 0; at < audio.size(); at += chunk) {
        for (auto& piece :
             cutter.feed(Samples(audio.begin() + static_cast<std::ptrdiff_t>(at),
                                 audio.begin() + static_cast<std::ptrdiff_t>(std::min(at + chunk, audio.size()))))) {
            pieces.push_back(std::move(piece));
        }
    }
    return pieces;
}

TEST(PauseCutter, CutsInPausesAndDropsWhatIsNoLouderThanTheThreshold) {
    struct Case {
        const char* what;
        Samples audio;
        std::vector<size_t> cut;  // piece sizes while feeding
        std::vector<size_t> rest; // piece sizes from flush
        int dropped;
    };
    const Case cases[] = {
        {"shorter than a tenth of a second", Samples(1599, 0.5f), {}, {}, 0},
        // Half a second of pause after the search start at 2.5 s: the cut lands halfway into it.
        {"pause", join({frames(130, 0.5f), frames(25, 0.0f), frames(45, 0.5f)}), {142 * frame}, {58 * frame}, 0},
        // Only three values are summed at the forced cut's first window position, yet the divisor
        // stays five, so that edge beats a single quieter frame in the middle.
        {"forced cut at the window edge",
         join({frames(50, 0.0f), frames(270, 0.5f), frames(1, 0.125f), frames(79, 0.5f)}),
         {250 * frame},
         {150 * frame},
         0},
        {"rest with a partial frame",
         join({frames(5, 0.0f), frames(20, 0.5f), Samples(7, 0.5f)}),
         {},
         {25 * frame + 7},
         0},
        // Cut at 137 frames three times; the flushed rest is dropped too.
        {"silence", frames(500, 0.0f), {}, {}, 4},
        {"noise under the floor", frames(200, 0.003f), {}, {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PauseCutter cutter;
        auto pieces = feedInChunks(cutter, c.audio);
        EXPECT_EQ(sizes(pieces), c.cut);
        auto rest = cutter.flush();
        EXPECT_EQ(sizes(rest), c.rest);
        EXPECT_EQ(cutter.dropped, c.dropped);
        if (c.dropped == 0) {
            pieces.insert(pieces.end(), rest.begin(), rest.end());
            Samples whole;
            for (const auto& piece : pieces) {
                whole.insert(whole.end(), piece.begin(), piece.end());
            }
            EXPECT_EQ(whole, pieces.empty() ? Samples() : c.audio) << "every sample, once, in order";
        }
    }
}

TEST(PauseCutter, ShortGapsAndQuietBeforeTheSearchStartDoNotCut) {
    PauseCutter gap;
    EXPECT_TRUE(feedInChunks(gap, join({frames(130, 0.5f), frames(20, 0.0f), frames(200, 0.5f)})).empty());
    // 30 quiet frames, but only 15 of them lie at or after frame 125.
    PauseCutter early;
    EXPECT_TRUE(feedInChunks(early, join({frames(110, 0.5f), frames(30, 0.0f), frames(200, 0.5f)})).empty());
}

TEST(PauseCutter, ThresholdInterpolatesPercentilesOfEveryLevelHeard) {
    PauseCutter cutter;
    EXPECT_TRUE(cutter.feed({}).empty());
    EXPECT_EQ(cutter.threshold(), 0.0f);
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

TEST(PauseCutter, ForcedCutWaitsForEightSecondsAndTakesTheEarliestQuietestPoint) {
    // Half a second of silence first keeps the threshold low, so the speech passes the loudness test.
    // Frames 299..301 are quieter; the smoothed scores at window positions 49, 50 and 51 all cover
    // the three of them and are equal, and the earliest wins.
    Samples audio = join({frames(50, 0.0f), frames(249, 0.5f), frames(3, 0.125f), frames(98, 0.5f)});
    PauseCutter cutter;
    EXPECT_TRUE(feedInChunks(cutter, Samples(audio.begin(), audio.end() - frame)).empty());
    EXPECT_EQ(sizes(cutter.feed(Samples(frame, 0.5f))), std::vector<size_t>{299 * frame});
}

TEST(PauseCutter, OneLargeFeedCutsLikeSmallChunks) {
    // 20 s of phrases with pauses between them.
    Samples audio;
    for (size_t i = 0; i < 6; ++i) {
        audio = join({audio, frames(140 + 10 * i, 0.5f), frames(30, 0.0f)});
    }
    PauseCutter whole;
    auto once = whole.feed(audio);
    PauseCutter chunked;
    EXPECT_GE(once.size(), 4u);
    EXPECT_EQ(once, feedInChunks(chunked, audio, 317));
    EXPECT_EQ(whole.flush(), chunked.flush());
}

} // namespace
