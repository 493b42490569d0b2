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

struct SessionRun {
    double latency;    // ms from the last chunk to the text
    double background; // ms the engine spent on pieces before the release
    std::string text;
};

SessionRun dictate(const std::shared_ptr<speech::Engine>& engine, const tones::Samples& audio, bool realtime) {
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
    engine->queue().sync([] {});
    double background = millisecondsSince(drainStart);
    std::promise<std::string> text;
    auto released = Clock::now();
    session.feed(tones::Samples(audio.begin() + static_cast<std::ptrdiff_t>(last), audio.end()));
    session.finish([&text](std::string joined) { text.set_value(std::move(joined)); });
    std::string joined = text.get_future().get();
    return {millisecondsSince(released), background, joined};
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
    std::printf("%8s %12s %12s %8s %14s %s\n", "audio s", "session ms", "whole ms", "ratio", "background ms",
                "same text");
    for (double seconds : {5.0, 30.0, 120.0}) {
        tones::Samples audio = bench::dictation(seconds);
        std::vector<double> latencies;
        std::vector<double> wholes;
        std::vector<double> backgrounds;
        bool sameWords = true;
        for (int run = 0; run < (realtime ? 1 : runs); ++run) {
            SessionRun session = dictate(engine, audio, realtime);
            std::string whole;
            wholes.push_back(decodeWhole(engine, audio, whole));
            latencies.push_back(session.latency);
            backgrounds.push_back(session.background);
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
        std::printf("%8.0f %12.2f %12.2f %7.1fx %14.2f %s\n", seconds, latency, whole, whole / latency,
                    median(backgrounds), sameWords ? "yes" : "no");
    }
    return 0;
}
