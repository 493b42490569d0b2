// Release latency of a dictation: the time from the last chunk fed to the joined text, against
// decoding the same audio whole at release, on the same engine in the same run.
//
//   bench_release_latency [--realtime] [--runs N]
//
// By default the audio is fed as fast as possible, and before the last chunk the benchmark waits
// until the engine has caught up, which is where a real-time microphone leaves it as long as
// decoding is faster than speech (the printed "background" figure shows that it is). --realtime
// feeds 20 ms chunks at the speed of speech instead (slow: 155 s per run).
// Note: the synthetic tone model is tiny; these are the library's and our own overheads, not a
// prediction of GigaAM's decode times, which are far larger and grow with the audio the same way.

#include "SpeechAudio.h"
#include "speech/Dictation.h"
#include "speech/Engine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t chunk = 320;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Times every decode, so the release can be split into the last piece's decode and the rest.
class TimedEngine : public speech::Recognizer {
public:
    explicit TimedEngine(std::shared_ptr<speech::Engine> engine) : engine(std::move(engine)) {}
    core::SerialQueue& queue() override { return engine->queue(); }
    std::string transcribe(const std::vector<float>& samples) override {
        auto start = Clock::now();
        std::string text = engine->transcribe(samples);
        if (afterRelease) {
            releaseDecode += millisecondsSince(start);
            releaseSeconds += static_cast<double>(samples.size()) / 16000.0;
        }
        return text;
    }
    std::shared_ptr<speech::Engine> engine;
    // Touched only on the queue: decodes that happen after the key is released.
    bool afterRelease = false;
    double releaseDecode = 0;
    double releaseSeconds = 0;
};

struct SessionRun {
    double latency;     // ms from the last chunk to the text
    double background;  // ms the engine spent on pieces before the release
    double lastDecode;  // ms of decoding after the release (the flushed piece), inside the latency
    double lastSeconds; // seconds of audio decoded after the release
    std::string text;
};

SessionRun dictate(const std::shared_ptr<speech::Engine>& real, const tones::Samples& audio, bool realtime) {
    auto engine = std::make_shared<TimedEngine>(real);
    speech::DictationSession session(engine);
    size_t last = (audio.size() - 1) / chunk * chunk;
    auto started = Clock::now();
    for (size_t at = 0; at < last; at += chunk) {
        session.feed(tones::Samples(audio.begin() + static_cast<std::ptrdiff_t>(at),
                                    audio.begin() + static_cast<std::ptrdiff_t>(at + chunk)));
        if (realtime) {
            std::this_thread::sleep_until(started + std::chrono::microseconds((at + chunk) * 1000000 / 16000));
        }
    }
    auto drainStart = Clock::now();
    engine->queue().sync([&engine] { engine->afterRelease = true; });
    double background = millisecondsSince(drainStart);
    std::promise<std::string> text;
    auto released = Clock::now();
    session.feed(tones::Samples(audio.begin() + static_cast<std::ptrdiff_t>(last), audio.end()));
    session.finish([&text](std::string joined) { text.set_value(std::move(joined)); });
    std::string joined = text.get_future().get();
    double latency = millisecondsSince(released);
    return {latency, background, engine->releaseDecode, engine->releaseSeconds, joined};
}

double decodeWhole(const std::shared_ptr<speech::Engine>& engine, const tones::Samples& audio, std::string& text) {
    auto start = Clock::now();
    engine->queue().sync([&] { text = engine->transcribe(audio); });
    return millisecondsSince(start);
}

} // namespace

int main(int argc, char** argv) {
    bool realtime = false;
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--realtime") == 0) {
            realtime = true;
        } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        }
    }
    auto engine = std::make_shared<speech::Engine>(tones::modelDirectory(), std::nullopt);
    std::string ignored;
    decodeWhole(engine, bench::dictation(5, 99), ignored); // the first decode after loading is slow

    std::printf("synthetic tone model (tiny), greedy search, %d runs each, medians%s\n", runs,
                realtime ? ", fed in real time" : "");
    std::printf("%8s %11s %10s %8s %17s %13s %14s %s\n", "audio s", "session ms", "whole ms", "ratio",
                "left at release s", "its decode ms", "background ms", "same text");
    for (double seconds : {5.0, 30.0, 120.0}) {
        tones::Samples audio = bench::dictation(seconds);
        std::vector<double> latencies;
        std::vector<double> wholes;
        std::vector<double> backgrounds;
        std::vector<double> lastDecodes;
        double lastSeconds = 0;
        bool sameWords = true;
        for (int run = 0; run < (realtime ? 1 : runs); ++run) {
            SessionRun session = dictate(engine, audio, realtime);
            std::string whole;
            wholes.push_back(decodeWhole(engine, audio, whole));
            latencies.push_back(session.latency);
            backgrounds.push_back(session.background);
            lastDecodes.push_back(session.lastDecode);
            lastSeconds = session.lastSeconds;
            // Pieces are joined and repaired at the seams, so compare the letters only.
            auto letters = [](std::string text) {
                text.erase(
                    std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '.' || c == ','; }),
                    text.end());
                return text;
            };
            sameWords = sameWords && letters(session.text) == letters(whole);
        }
        double latency = median(latencies);
        double whole = median(wholes);
        std::printf("%8.0f %11.2f %10.2f %7.1fx %17.2f %13.2f %14.2f %s\n", seconds, latency, whole, whole / latency,
                    lastSeconds, median(lastDecodes), median(backgrounds), sameWords ? "yes" : "no");
    }
    return 0;
}
