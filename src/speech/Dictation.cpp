#include "speech/Dictation.h"

#include "text/Transcript.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace speech {

namespace {

constexpr int searchStart = PauseCutter::minPiece - PauseCutter::pause; // 125
constexpr int halfPause = PauseCutter::pause / 2;                       // 12
constexpr int window = PauseCutter::lookback - PauseCutter::quietSpan;  // 145

float percentile(const std::vector<float>& sorted, double fraction) {
    double position = fraction * static_cast<double>(sorted.size() - 1);
    size_t lo = static_cast<size_t>(position);
    size_t hi = std::min(lo + 1, sorted.size() - 1);
    return sorted[lo] + (sorted[hi] - sorted[lo]) * static_cast<float>(position - static_cast<double>(lo));
}

} // namespace

float rootMeanSquare(const float* samples, std::size_t count) {
    if (count == 0) {
        return 0;
    }
    float sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += samples[i] * samples[i];
    }
    return std::sqrt(sum / static_cast<float>(count));
}

std::vector<Samples> PauseCutter::feed(const Samples& samples) {
    buffer.insert(buffer.end(), samples.begin(), samples.end());
    size_t complete = buffer.size() / frame;
    for (size_t i = levels.size(); i < complete; ++i) {
        float level = rootMeanSquare(buffer.data() + i * frame, frame);
        levels.push_back(level);
        history.insert(std::upper_bound(history.begin(), history.end(), level), level);
    }
    if (levels.size() < static_cast<size_t>(minPiece)) {
        return {};
    }
    std::vector<Samples> pieces;
    for (;;) {
        size_t cut = cutPoint(threshold());
        if (cut == 0) {
            break;
        }
        auto end = buffer.begin() + static_cast<std::ptrdiff_t>(cut * frame);
        pieces.emplace_back(buffer.begin(), end);
        buffer.erase(buffer.begin(), end);
        cutSamples += cut * frame;
        levels.erase(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(cut));
        if (levels.size() < static_cast<size_t>(minPiece)) {
            break;
        }
    }
    return keep(std::move(pieces));
}

size_t PauseCutter::cutPoint(float limit) const {
    int run = 0;
    for (size_t j = searchStart; j < levels.size(); ++j) {
        bool quiet = levels[j] < limit;
        if (quiet && run >= pause - 1) {
            return j - halfPause;
        }
        run = quiet ? run + 1 : 0;
    }
    size_t n = levels.size();
    if (n < static_cast<size_t>(maxPiece)) {
        return 0;
    }
    // No pause for too long: cut at the quietest smoothed moment of the last seconds.
    const float* values = levels.data() + (n - lookback);
    float best = FLT_MAX;
    int bestPosition = 0;
    for (int k = 0; k < window; ++k) {
        float sum = 0;
        for (int i = std::max(k - 2, 0); i < std::min(k + 3, window); ++i) {
            sum += values[i];
        }
        float score = sum / 5.0f;
        if (score < best) {
            best = score;
            bestPosition = k;
        }
    }
    return n - lookback + static_cast<size_t>(bestPosition);
}

float PauseCutter::threshold() const {
    if (history.empty()) {
        return 0;
    }
    float low = percentile(history, 0.1);
    float high = percentile(history, 0.9);
    float t = low + (high - low) * 0.15f;
    return t > minimumThreshold ? t : minimumThreshold;
}

std::vector<Samples> PauseCutter::keep(std::vector<Samples> pieces) {
    std::vector<Samples> kept;
    if (pieces.empty()) {
        return kept;
    }
    float limit = threshold();
    for (auto& piece : pieces) {
        if (!history.empty() && rootMeanSquare(piece.data(), piece.size()) > limit) {
            kept.push_back(std::move(piece));
        } else {
            ++dropped;
        }
    }
    return kept;
}

size_t PauseCutter::quietTail() const {
    float limit = threshold();
    size_t measured = levels.size() * frame;
    if (buffer.size() > measured && rootMeanSquare(buffer.data() + measured, buffer.size() - measured) >= limit) {
        return 0;
    }
    size_t loud = levels.size();
    while (loud > 0 && levels[loud - 1] < limit) {
        --loud;
    }
    return buffer.size() - loud * frame;
}

std::vector<Samples> PauseCutter::flush() {
    Samples rest = std::move(buffer);
    buffer.clear();
    levels.clear();
    cutSamples += rest.size();
    if (rest.size() < flushMinimum) {
        return {};
    }
    std::vector<Samples> pieces;
    pieces.push_back(std::move(rest));
    return keep(std::move(pieces));
}

const Samples& DictationSession::warmUp() {
    static const Samples silence(8000, 0.0f);
    return silence;
}

DictationSession::DictationSession(std::shared_ptr<Recognizer> engine, bool speculate)
    : shared(std::make_shared<Shared>()), speculative(speculate) {
    shared->engine = std::move(engine);
    post([](Shared& session) { session.engine->transcribe(warmUp()); });
}

void DictationSession::post(std::function<void(Shared&)> work) {
    ++posted;
    shared->engine->queue().post([shared = shared, work = std::move(work)] {
        work(*shared);
        shared->finished.fetch_add(1, std::memory_order_release);
    });
}

void DictationSession::feed(const Samples& samples) {
    seconds += static_cast<double>(samples.size()) / 16000.0;
    size_t consumed = cutter.consumed();
    for (auto& piece : cutter.feed(samples)) {
        recognise(std::move(piece));
    }
    if (cutter.consumed() != consumed) {
        speculated.reset(); // it began where the piece just cut began
    }
    speculate();
}

void DictationSession::recognise(Samples piece) {
    // The speculative text stands for this piece when the piece is that audio and then only quiet.
    std::optional<uint64_t> reuse;
    if (speculated && piece.size() >= speculated->size() &&
        std::equal(speculated->begin(), speculated->end(), piece.begin())) {
        float limit = cutter.threshold();
        bool quiet = true;
        for (size_t at = speculated->size(); quiet && at < piece.size(); at += PauseCutter::frame) {
            quiet = rootMeanSquare(piece.data() + at, std::min<size_t>(PauseCutter::frame, piece.size() - at)) < limit;
        }
        if (quiet) {
            reuse = speculations;
        }
    }
    post([piece = std::move(piece), reuse](Shared& session) {
        if (session.cancelled) {
            return;
        }
        std::string text;
        if (reuse && session.speculation && session.speculation->id == *reuse) {
            text = std::move(session.speculation->text);
            session.speculation.reset();
        } else {
            text = session.engine->transcribe(piece);
        }
        if (!text.empty()) {
            session.texts.push_back(std::move(text));
        }
    });
}

void DictationSession::speculate() {
    // Only on an idle queue: a real piece arriving meanwhile waits at most for the rest of this decode.
    if (!speculative || cancelRequested || shared->finished.load(std::memory_order_acquire) != posted) {
        return;
    }
    const Samples& open = cutter.pending();
    size_t tail = cutter.quietTail();
    size_t spoken = open.size() - tail;
    constexpr size_t quietSamples = static_cast<size_t>(speculationQuiet) * PauseCutter::frame;
    if (spoken == 0 || tail < quietSamples) {
        return;
    }
    // Up to where a cut at this pause would fall, so that such a cut gives exactly this audio.
    size_t end = spoken + quietSamples;
    if (speculated && speculatedEnd == cutter.consumed() + end) {
        return; // this pause is speculated already
    }
    if (rootMeanSquare(open.data(), end) <= cutter.threshold()) {
        return; // the loudness test would drop it
    }
    speculated = std::make_shared<const Samples>(open.begin(), open.begin() + static_cast<std::ptrdiff_t>(end));
    speculatedEnd = cutter.consumed() + end;
    post([audio = speculated, id = ++speculations](Shared& session) {
        if (!session.cancelled) {
            session.speculation = Speculation{id, session.engine->transcribe(*audio)};
        }
    });
}

void DictationSession::finish(std::function<void(std::string)> completion) {
    for (auto& piece : cutter.flush()) {
        recognise(std::move(piece));
    }
    speculated.reset();
    post([completion = std::move(completion)](Shared& session) {
        completion(session.cancelled ? std::string() : text::Transcript::joinPieces(session.texts));
    });
}

void DictationSession::cancel() {
    cancelRequested = true;
    post([](Shared& session) { session.cancelled = true; });
}

} // namespace speech
