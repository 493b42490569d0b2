#pragma once

#include "speech/Recognizer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace speech {

/// A buffer of 32-bit float samples, one channel, 16 000 per second.
using Samples = std::vector<float>;

/// The loudness of `count` samples: their root mean square, 0 for none. The pill's bars and the
/// pause cutter's frames are measured alike.
float rootMeanSquare(const float* samples, std::size_t count);

/// Cuts one continuous recording, fed in small chunks, into speech pieces of a few seconds: a
/// piece ends in the middle of a pause of at least half a second, or, after 8 s without one, at the
/// quietest moment of the last 3 s. Pieces no louder than the recording's adaptive threshold are
/// dropped and counted. Pure computation; one caller at a time; one recording per cutter.
class PauseCutter {
public:
    static constexpr int frame = 320;    ///< samples per level frame (20 ms)
    static constexpr int minPiece = 150; ///< frames (3.0 s)
    static constexpr int pause = 25;     ///< frames (0.5 s)
    static constexpr int maxPiece = 400; ///< frames (8.0 s)
    static constexpr int lookback = 150; ///< frames (3.0 s)
    static constexpr int quietSpan = 5;  ///< frames
    static constexpr float minimumThreshold = 0.004f;
    static constexpr size_t flushMinimum = 1600; ///< samples (0.1 s)

    /// Appends `samples` and returns the pieces this completes, in time order (often none).
    std::vector<Samples> feed(const Samples& samples);

    /// Ends the recording: the remaining audio as at most one piece.
    std::vector<Samples> flush();

    /// The current loudness threshold, from every frame level heard so far (at least 0.004).
    float threshold() const;

    /// Pieces discarded by the loudness test so far; the owner may reset it.
    int dropped = 0;

    /// The audio received and not yet cut off: the start of the next piece.
    const Samples& pending() const { return buffer; }

    /// Samples cut off the front of the recording so far (kept or dropped).
    size_t consumed() const { return cutSamples; }

    /// How many samples at the end of `pending()` lie below the threshold: the quiet frames at the
    /// end, and the trailing partial frame when it is quiet too (0 when that partial frame is loud).
    size_t quietTail() const;

private:
    /// The frame at which to cut `buffer`, or 0 when no cut applies yet.
    size_t cutPoint(float limit) const;
    std::vector<Samples> keep(std::vector<Samples> pieces);

    Samples buffer;
    size_t cutSamples = 0;
    std::vector<float> levels;
    // Every frame level this cutter has computed, kept in ascending order as it grows: the
    // threshold needs only the sorted values, and it is evaluated for every chunk once a piece is
    // possible, so sorting there would cost milliseconds per chunk in a long dictation.
    std::vector<float> history;
};

/// One dictation from key press to raw text. Cuts the fed audio with its own PauseCutter and has
/// every piece recognised on the recogniser's serial queue while the user still speaks; the texts
/// stay in speaking order because that one queue runs everything. `feed`, `finish` and `cancel`
/// are called from one thread (the audio queue), never at the same time.
///
/// Users stop talking, pause, then let go, so the piece still open at the release usually ends in
/// silence. When it has ended in `speculationQuiet` quiet frames and the queue has nothing else to
/// do, the session decodes it so far, speculatively. A piece that turns out to be that audio plus
/// nothing but quiet, whether cut at the pause or flushed at the release, takes the speculative
/// text instead of being decoded again; anything louder after it discards the speculation.
class DictationSession {
public:
    /// Quiet frames (20 ms) at the end of the open piece before it is decoded speculatively: half a
    /// pause, so that the speculated audio is exactly the piece a cut at this pause would give.
    static constexpr int speculationQuiet = PauseCutter::pause / 2;

    /// Schedules the warm-up decode of 0.5 s of silence on the recogniser's queue. `speculate`
    /// false leaves out the speculative decodes (the text is the same either way).
    explicit DictationSession(std::shared_ptr<Recognizer> engine, bool speculate = true);
    DictationSession(const DictationSession&) = delete;
    DictationSession& operator=(const DictationSession&) = delete;

    /// Takes one captured chunk; pieces it completes are queued for recognition.
    void feed(const Samples& samples);

    /// Ends the dictation. `completion` is called exactly once, on the recogniser's queue, with the
    /// pieces' texts joined (empty after a cancel), once every earlier piece has been decoded.
    void finish(std::function<void(std::string)> completion);

    /// Abandons the dictation: pieces queued after this are not decoded.
    void cancel();

    /// Seconds of audio fed so far. Touched only by the caller's thread.
    double seconds = 0;

    /// 8000 zero samples, decoded at the start of every session to wake the recogniser.
    static const Samples& warmUp();

private:
    struct Speculation {
        uint64_t id;
        std::string text;
    };
    // Lives as long as the last block that refers to it; touched only on the recogniser's queue,
    // except `finished`.
    struct Shared {
        std::shared_ptr<Recognizer> engine;
        std::vector<std::string> texts;
        bool cancelled = false;
        std::optional<Speculation> speculation; // the latest speculative decode
        // Blocks of this session that have run: written on the queue, read on the caller's thread
        // to tell whether the queue is idle.
        std::atomic<uint64_t> finished{0};
    };
    void post(std::function<void(Shared&)> work);
    void recognise(Samples piece);
    void speculate();

    std::shared_ptr<Shared> shared;
    PauseCutter cutter;
    // The caller's thread only.
    bool speculative;
    bool cancelRequested = false;
    uint64_t posted = 0; // blocks this session has submitted
    uint64_t speculations = 0;
    std::shared_ptr<const Samples> speculated; // audio of the latest speculative decode
    size_t speculatedEnd = 0;                  // where it ended in the whole recording
};

} // namespace speech
