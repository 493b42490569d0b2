// What the recogniser costs on a model folder: loading, resident memory, and the real-time factor
// of one decode by length, thread count and search, with the cost of each emitted token.
//
//   bench_model_cost [MODEL_DIR] [--runs N]
//
// MODEL_DIR (or $RUVEX_VOICE_MODEL_DIR; default: the tone model of this build) holds tokens.txt,
// encoder.int8.onnx, decoder.onnx and joiner.onnx. The sized model (cmake target sized_model) never
// emits a token; its emitting/ copy emits on every query, which measures what a real model's
// tokens add. Every figure is a median over N runs (default 5).

#include "Engines.h"
#include "Measure.h"
#include "SpeechAudio.h"
#include "speech/Dictation.h"
#include "speech/Engine.h"
#include "speech/SherpaOnnx.h"

#include <cstring>
#include <future>
#include <map>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::millisecondsSince;

double decodeMilliseconds(speech::Engine& engine, const tones::Samples& audio) {
    auto start = Clock::now();
    engine.queue().sync([&] { engine.transcribe(audio); });
    return millisecondsSince(start);
}

/// A 30 s dictation through a session, fed as fast as the engine takes it.
void dictate(const std::shared_ptr<speech::Engine>& engine, const tones::Samples& audio) {
    speech::DictationSession session(engine);
    for (size_t at = 0; at < audio.size(); at += 320) {
        session.feed(tones::Samples(audio.begin() + static_cast<std::ptrdiff_t>(at),
                                    audio.begin() + static_cast<std::ptrdiff_t>(std::min(at + 320, audio.size()))));
    }
    std::promise<void> done;
    session.finish([&done](const std::string&) { done.set_value(); });
    done.get_future().wait();
}

/// Milliseconds per emitted token with greedy search: the emitting copy against the silent model on
/// the same audio, through the library directly to count the tokens.
double perToken(const std::filesystem::path& model, int threads, const tones::Samples& audio, int runs) {
    std::string emitting = (model / "emitting").string();
    std::map<std::string, double> times;
    int tokens = 0;
    for (const std::string& folder : {model.string(), emitting}) {
        std::string encoder = folder + "/encoder.int8.onnx", decoder = folder + "/decoder.onnx",
                    joiner = folder + "/joiner.onnx", table = folder + "/tokens.txt";
        SherpaOnnxOfflineRecognizerConfig config;
        std::memset(&config, 0, sizeof config);
        config.feat_config.sample_rate = 16000;
        config.feat_config.feature_dim = 64;
        config.model_config.transducer = {encoder.c_str(), decoder.c_str(), joiner.c_str()};
        config.model_config.tokens = table.c_str();
        config.model_config.num_threads = threads;
        config.model_config.model_type = "nemo_transducer";
        const SherpaOnnxOfflineRecognizer* recognizer = SherpaOnnxCreateOfflineRecognizer(&config);
        std::vector<double> spent;
        for (int run = 0; run <= runs; ++run) {
            const SherpaOnnxOfflineStream* stream = SherpaOnnxCreateOfflineStream(recognizer);
            SherpaOnnxAcceptWaveformOffline(stream, 16000, audio.data(), static_cast<int32_t>(audio.size()));
            auto start = Clock::now();
            SherpaOnnxDecodeOfflineStream(recognizer, stream);
            if (run > 0) { // the first decode after loading is slow
                spent.push_back(millisecondsSince(start));
            }
            const SherpaOnnxOfflineRecognizerResult* result = SherpaOnnxGetOfflineStreamResult(stream);
            if (folder == emitting) {
                tokens = result->count;
            }
            SherpaOnnxDestroyOfflineRecognizerResult(result);
            SherpaOnnxDestroyOfflineStream(stream);
        }
        SherpaOnnxDestroyOfflineRecognizer(recognizer);
        times[folder] = bench::median(spent);
    }
    return tokens > 0 ? (times[emitting] - times[model.string()]) / tokens : 0;
}

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path model = bench::modelFolder(argc, argv);
    int runs = std::max(1, bench::option(argc, argv, "--runs", 5));
    std::printf("model %s\ncores usable %d, default threads %d; medians of %d runs\n", model.c_str(),
                speech::Engine::usableCores(), speech::Engine::defaultThreads(), runs);

    // Memory first, while nothing else has been loaded into this process.
    auto start = Clock::now();
    auto engine = bench::loadEngine(model, false, 0);
    double firstLoad = millisecondsSince(start);
    double afterLoad = bench::residentMegabytes();
    tones::Samples thirty = bench::dictation(30, 3);
    dictate(engine, thirty);
    double afterDictation = bench::residentMegabytes();
    decodeMilliseconds(*engine, thirty);
    double afterWhole = bench::residentMegabytes();
    engine.reset();
    std::vector<double> loads = {firstLoad};
    for (int run = 1; run < std::min(runs, 3); ++run) {
        start = Clock::now();
        bench::loadEngine(model, false, 0);
        loads.push_back(millisecondsSince(start));
    }
    std::printf("\n[%s]\nload %.0f ms; RSS after load %.0f MB, after a 30 s dictation %.0f MB, after decoding 30 s "
                "whole %.0f MB\n",
                bench::load().c_str(), bench::median(loads), afterLoad, afterDictation, afterWhole);

    const int defaultThreads = speech::Engine::defaultThreads();
    std::vector<int> threadCounts = {1, 2, 4};
    if (defaultThreads != 1 && defaultThreads != 2 && defaultThreads != 4) {
        threadCounts.push_back(defaultThreads);
    }
    std::printf("\nreal-time factor of one decode (ms in brackets); the default is %d threads\n", defaultThreads);
    std::printf("%-8s %7s %18s %18s %18s   %s\n", "search", "threads", "5 s", "8 s", "30 s", "");
    std::map<std::pair<bool, int>, double> rtf8;
    for (bool beam : {false, true}) {
        for (int threads : threadCounts) {
            auto measured = bench::loadEngine(model, beam, threads);
            decodeMilliseconds(*measured, bench::dictation(2, 9)); // the first decode after loading is slow
            std::printf("%-8s %7d", beam ? "beam" : "greedy", threads);
            for (double seconds : {5.0, 8.0, 30.0}) {
                tones::Samples audio = bench::dictation(seconds, 5);
                std::vector<double> spent;
                for (int run = 0; run < runs; ++run) {
                    spent.push_back(decodeMilliseconds(*measured, audio));
                }
                double ms = bench::median(spent);
                if (seconds == 8.0) {
                    rtf8[{beam, threads}] = ms / 8000.0;
                }
                std::printf("   %6.3f (%6.0f)", ms / (seconds * 1000), ms);
            }
            std::printf("   [%s]%s\n", bench::load().c_str(), threads == defaultThreads ? "  <- default" : "");
        }
    }
    for (bool beam : {false, true}) {
        std::printf("%s: default (%d threads) is %.1fx as fast as 4 threads at 8 s\n", beam ? "beam  " : "greedy",
                    defaultThreads, rtf8[{beam, 4}] / rtf8[{beam, defaultThreads}]);
    }

    if (std::filesystem::exists(model / "emitting" / "joiner.onnx")) {
        tones::Samples audio = bench::dictation(4, 11);
        double token = perToken(model, defaultThreads, audio, runs);
        // A trained model emits about 5 tokens per second of Russian dictation; beam search runs
        // each of them on 4 paths (an upper bound).
        std::printf("\nper emitted token (greedy, %d threads): %.3f ms [%s]\n"
                    "  a real model's tokens would add about %.1f ms per second of audio with greedy search, "
                    "%.1f ms with beam search\n",
                    defaultThreads, token, bench::load().c_str(), 5 * token, 20 * token);
    }
    return 0;
}
