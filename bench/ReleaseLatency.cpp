// Release -> text: the time from the key's release (the last chunk of audio) to the joined text,
// over a corpus of dictations of 5 to 120 s with natural pauses, each released 0.3 to 1.0 s after its
// last word; side by side with decoding the whole recording at release, with and without the
// speculative decode of the open piece, for greedy search and for beam search with terms.
//
//   bench_release_latency [MODEL_DIR] [--threads N] [--quick] [--realtime]
//
// MODEL_DIR (or $RUVEX_VOICE_MODEL_DIR; default: the tone model of this build). The last 12 s of every
// dictation are fed in 20 ms chunks at the speed of speech, which decides what is left to do at the
// release; what comes before is fed at once and decoded before the real-time part starts, as it would
// have been by then (--realtime feeds everything in real time). --quick uses a third of the corpus.
// "background" is the decoding done before the release as a share of the audio's duration.

#include "Engines.h"
#include "Measure.h"
#include "SpeechAudio.h"
#include "speech/Dictation.h"
#include "speech/Engine.h"

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using bench::Clock;
using bench::millisecondsSince;
constexpr size_t chunk = 320;
constexpr double realtimeTail = 12.0;

double milliseconds(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

// Times every decode, so that the release can be taken apart afterwards.
class TimedEngine : public speech::Recognizer {
public:
    struct Decode {
        Clock::time_point start, end;
        size_t samples;
    };
    explicit TimedEngine(std::shared_ptr<speech::Engine> engine) : engine(std::move(engine)) {}
    core::SerialQueue& queue() override { return engine->queue(); }
    std::string transcribe(const std::vector<float>& samples) override {
        auto start = Clock::now();
        std::string text = engine->transcribe(samples);
        decodes.push_back({start, Clock::now(), samples.size()});
        return text;
    }
    std::shared_ptr<speech::Engine> engine;
    std::vector<Decode> decodes; // written on the queue, read once the session is done
};

struct Run {
    double latency = 0;        // ms from the release to the text
    double background = 0;     // ms of decoding before the release
    double heard = 0;          // seconds of audio before the release
    size_t speculations = 0;   // speculative decodes
    size_t reused = 0;         // pieces that took a speculative text instead of a decode
    std::vector<double> waits; // ms a piece waited for a speculation to finish
    std::string text;
};

Run dictate(const std::shared_ptr<speech::Engine>& real, const tones::Samples& audio, bool speculate, bool realtime) {
    auto engine = std::make_shared<TimedEngine>(real);
    speech::DictationSession session(engine, speculate);
    speech::PauseCutter shadow; // cuts as the session's cutter does, to know when each piece was handed over
    struct Handed {
        Clock::time_point at;
        size_t samples;
    };
    std::vector<Handed> handed;
    const size_t last = (audio.size() - 1) / chunk * chunk;
    const size_t paceFrom =
        realtime ? 0 : last - std::min(last, static_cast<size_t>(realtimeTail * 16000) / chunk * chunk);
    Clock::time_point paced = Clock::now();
    auto feed = [&](size_t from, size_t to) {
        tones::Samples part(audio.begin() + static_cast<std::ptrdiff_t>(from),
                            audio.begin() + static_cast<std::ptrdiff_t>(to));
        auto now = Clock::now(); // the session hands its pieces over within this feed
        session.feed(part);
        for (auto& piece : shadow.feed(part)) {
            handed.push_back({now, piece.size()});
        }
    };
    for (size_t at = 0; at < last; at += chunk) {
        if (at == paceFrom) {
            engine->queue().sync([] {}); // what came before is decoded by now in real time
            paced = Clock::now() - std::chrono::microseconds(at * 1000000 / 16000);
        }
        if (at >= paceFrom) {
            std::this_thread::sleep_until(paced + std::chrono::microseconds((at + chunk) * 1000000 / 16000));
        }
        feed(at, at + chunk);
    }
    std::this_thread::sleep_until(paced + std::chrono::microseconds(audio.size() * 1000000 / 16000));
    std::promise<std::string> text;
    auto released = Clock::now();
    feed(last, audio.size());
    session.finish([&text](std::string joined) { text.set_value(std::move(joined)); });
    for (auto& piece : shadow.flush()) {
        handed.push_back({released, piece.size()});
    }
    Run run;
    run.text = text.get_future().get();
    run.latency = millisecondsSince(released);
    run.heard = static_cast<double>(audio.size()) / 16000.0;

    // The first decode is the warm-up; a handed piece's decode is the next one of its size that
    // started after it was handed; every other decode is a speculation.
    const auto& decodes = engine->decodes;
    std::vector<bool> speculative(decodes.size(), true);
    speculative[0] = false;
    size_t next = 1;
    std::vector<bool> decoded(handed.size(), false);
    for (size_t k = 0; k < handed.size(); ++k) {
        for (size_t d = next; d < decodes.size(); ++d) {
            if (decodes[d].samples == handed[k].samples && decodes[d].start >= handed[k].at) {
                speculative[d] = false;
                decoded[k] = true;
                next = d + 1;
                break;
            }
        }
    }
    for (size_t d = 0; d < decodes.size(); ++d) {
        run.background += milliseconds(std::min(decodes[d].end, released) - std::min(decodes[d].start, released));
        run.speculations += speculative[d] ? 1 : 0;
    }
    for (size_t k = 0; k < handed.size(); ++k) {
        run.reused += decoded[k] ? 0 : 1;
        for (size_t d = 0; d < decodes.size() && decoded[k]; ++d) {
            if (speculative[d] && decodes[d].start <= handed[k].at && handed[k].at < decodes[d].end) {
                run.waits.push_back(milliseconds(decodes[d].end - handed[k].at));
            }
        }
    }
    return run;
}

double decodeWhole(speech::Engine& engine, const tones::Samples& audio) {
    auto start = Clock::now();
    engine.queue().sync([&] { engine.transcribe(audio); });
    return millisecondsSince(start);
}

std::string triple(const std::vector<double>& values) {
    char text[64];
    std::snprintf(text, sizeof text, "%5.0f %5.0f %5.0f", bench::percentile(values, 0.5),
                  bench::percentile(values, 0.95), bench::percentile(values, 1.0));
    return text;
}

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path model = bench::modelFolder(argc, argv);
    const int threads = bench::option(argc, argv, "--threads", 0);
    const bool realtime = bench::flag(argc, argv, "--realtime");
    const auto corpus = bench::corpus(bench::flag(argc, argv, "--quick"));
    double total = 0;
    for (const auto& dictation : corpus) {
        total += dictation.seconds;
    }
    std::printf("model %s\n%d threads (cores usable %d); %zu dictations of 5-120 s (%.0f s), released 0.3-1.0 s "
                "after the last word; %s in real time\n",
                model.c_str(), threads > 0 ? threads : speech::Engine::defaultThreads(), speech::Engine::usableCores(),
                corpus.size(), total, realtime ? "all fed" : "the last 12 s of each fed");
    std::printf("\n%-7s %-11s %-17s %-17s %10s %8s %-16s %s\n", "search", "speculation", "release->text ms",
                "whole decode ms", "background", "used", "wait behind ms", "");
    std::printf("%-7s %-11s %-17s %-17s %10s %8s %-16s\n", "", "", "  p50   p95   max", "  p50   p95   max",
                "% of audio", "/made", "   max  count");
    for (bool beam : {false, true}) {
        auto engine = bench::loadEngine(model, beam, threads);
        decodeWhole(*engine, bench::dictation(2, 9)); // the first decode after loading is slow
        std::vector<double> wholes;
        for (const auto& dictation : corpus) {
            wholes.push_back(decodeWhole(*engine, dictation.audio));
        }
        std::vector<std::string> texts[2];
        for (bool speculate : {true, false}) {
            std::vector<double> latencies, waits, byPause[3];
            double background = 0, heard = 0;
            size_t made = 0, used = 0;
            for (const auto& dictation : corpus) {
                Run run = dictate(engine, dictation.audio, speculate, realtime);
                latencies.push_back(run.latency);
                byPause[dictation.releasePause < 0.5 ? 0 : dictation.releasePause < 0.7 ? 1 : 2].push_back(run.latency);
                waits.insert(waits.end(), run.waits.begin(), run.waits.end());
                background += run.background;
                heard += run.heard;
                made += run.speculations;
                used += speculate ? run.reused : 0;
                texts[speculate].push_back(run.text);
            }
            std::printf("%-7s %-11s %s %s %9.1f%% %4zu/%-4zu %6.0f %6zu   [%s]\n", beam ? "beam" : "greedy",
                        speculate ? "on" : "off", triple(latencies).c_str(), triple(wholes).c_str(),
                        background / (heard * 10), used, made, bench::percentile(waits, 1.0), waits.size(),
                        bench::load().c_str());
            std::printf(
                "%20s by the pause before the release: 0.3-0.5 s %s; 0.5-0.7 s %s; 0.7-1.0 s %s (p50 p95 max)\n", "",
                triple(byPause[0]).c_str(), triple(byPause[1]).c_str(), triple(byPause[2]).c_str());
            std::fflush(stdout);
        }
        size_t same = 0;
        for (size_t i = 0; i < corpus.size(); ++i) {
            same += texts[0][i] == texts[1][i] ? 1 : 0;
        }
        std::printf("%-7s same text with and without speculation: %zu of %zu\n", beam ? "beam" : "greedy", same,
                    corpus.size());
    }

    // A fresh engine: the session's warm-up decode must spare the first dictation the cold start.
    auto fresh = bench::loadEngine(model, false, threads);
    const tones::Samples& audio = corpus.front().audio;
    Run first = dictate(fresh, audio, true, true);
    Run second = dictate(fresh, audio, true, true);
    std::printf("\nfirst dictation after loading (%.0f s, greedy): release->text %.0f ms; the second: %.0f ms [%s]\n",
                corpus.front().seconds, first.latency, second.latency, bench::load().c_str());
    return 0;
}
