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

std::vector<Samples> PauseCutter::flush() {
    Samples rest = std::move(buffer);
    buffer.clear();
    levels.clear();
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

DictationSession::DictationSession(std::shared_ptr<Recognizer> engine)
    : shared(std::make_shared<Shared>(Shared{engine, {}, false})) {
    engine->queue().post([engine] { engine->transcribe(warmUp()); });
}

void DictationSession::feed(const Samples& samples) {
    seconds += static_cast<double>(samples.size()) / 16000.0;
    for (auto& piece : cutter.feed(samples)) {
        recognise(std::move(piece));
    }
}

void DictationSession::recognise(Samples piece) {
    shared->engine->queue().post([shared = shared, piece = std::move(piece)] {
        if (shared->cancelled) {
            return;
        }
        std::string text = shared->engine->transcribe(piece);
        if (!text.empty()) {
            shared->texts.push_back(std::move(text));
        }
    });
}

void DictationSession::finish(std::function<void(std::string)> completion) {
    for (auto& piece : cutter.flush()) {
        recognise(std::move(piece));
    }
    shared->engine->queue().post([shared = shared, completion = std::move(completion)] {
        completion(shared->cancelled ? std::string() : text::Transcript::joinPieces(shared->texts));
    });
}

void DictationSession::cancel() {
    shared->engine->queue().post([shared = shared] { shared->cancelled = true; });
}

} // namespace speech
