// Cost of the pause cutter on the capture path: microseconds of feed per second of audio, fed in
// 20 ms chunks as the microphone delivers them, for dictations of several lengths.
//
//   bench_pause_cutter

#include "SpeechAudio.h"
#include "speech/Dictation.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

int main() {
    using Clock = std::chrono::steady_clock;
    constexpr size_t chunk = 320;
    std::printf("%8s %8s %16s %18s\n", "audio s", "pieces", "us per audio s", "worst chunk us");
    for (double seconds : {5.0, 30.0, 120.0, 300.0}) {
        tones::Samples audio = bench::dictation(seconds, 7);
        std::vector<double> perSecond;
        double worst = 0;
        size_t pieces = 0;
        for (int run = 0; run < 5; ++run) {
            speech::PauseCutter cutter;
            std::vector<tones::Samples> chunks;
            for (size_t at = 0; at < audio.size(); at += chunk) {
                chunks.emplace_back(audio.begin() + static_cast<std::ptrdiff_t>(at),
                                    audio.begin() + static_cast<std::ptrdiff_t>(std::min(at + chunk, audio.size())));
            }
            double total = 0;
            pieces = 0;
            for (const auto& part : chunks) {
                auto start = Clock::now();
                pieces += cutter.feed(part).size();
                double spent = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
                total += spent;
                worst = std::max(worst, spent);
            }
            pieces += cutter.flush().size();
            perSecond.push_back(total / seconds);
        }
        std::sort(perSecond.begin(), perSecond.end());
        std::printf("%8.0f %8zu %16.1f %18.1f\n", seconds, pieces, perSecond[perSecond.size() / 2], worst);
    }
    return 0;
}
