// A long run of dictations through the real controller, engine (the tone model), transcript cleanup,
// dictionary and polisher, on a fake desktop: memory and descriptors must stay flat after warm-up.
//
//   bench_soak [--dictations N]
//
// Every dictation is a press, two pieces of speech fed as fast as the session takes them, a release
// and the paste; time runs on a virtual clock, so nothing waits for real time. Every other dictation
// holds a self-correction, which the polisher sends to a chat service on 127.0.0.1 with a stored key.
// Prints the resident memory, the heap in use and the open descriptors every 100 dictations, then the
// growth from the 100th to the last (the first hundred warm the engine, the allocator and libcurl).

#include "Measure.h"
#include "Tones.h"
#include "app/DictationController.h"
#include "fakes/FakeAudioSource.h"
#include "fakes/FakeOverlay.h"
#include "fakes/FakePaste.h"
#include "fakes/MemorySecretStore.h"
#include "fakes/VirtualTime.h"
#include "speech/ModelStore.h"
#include "support/TempDir.h"

#include <httplib.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Sample {
    double rssMB;
    double heapMB;
    long descriptors;
};

Sample measure() {
    Sample sample{bench::residentMegabytes(), 0, 0};
    const struct mallinfo2 heap = mallinfo2();
    sample.heapMB = static_cast<double>(heap.uordblks + heap.hblkhd) / (1024 * 1024);
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++sample.descriptors;
    return sample;
}

/// Two pieces with a pause between them long enough to be cut there.
tones::Samples twoPieces(const std::string& first, const std::string& second) {
    tones::Samples audio = tones::phrase(first);
    tones::append(audio, tones::silence(1.0));
    tones::append(audio, tones::phrase(second));
    tones::append(audio, tones::silence(0.5));
    return audio;
}

} // namespace

int main(int argc, char** argv) {
    const int dictations = std::max(100, bench::option(argc, argv, "--dictations", 1000));

    // The chat service: answers every correction with the corrected sentence.
    httplib::Server service;
    service.Post("/chat/completions", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(
            R"({"choices":[{"message":{"role":"assistant","content":"Встреча в шесть, так и запишем."}}]})",
            "application/json");
    });
    const int port = service.bind_to_any_port("127.0.0.1");
    // Bound means listening: requests queue until the thread accepts them.
    std::thread listener([&] { service.listen_after_bind(); });

    testsupport::IsolatedHome home;
    testsupport::ScopedEnv url("RUVEX_VOICE_AI_URL", "http://127.0.0.1:" + std::to_string(port));
    testsupport::ScopedEnv noProxy("no_proxy", "127.0.0.1");
    text::Vocabulary::save("# Словарь\nкаша\nмягких → свежих\n");

    fakes::VirtualTime time;
    core::Defaults settings = core::Defaults::standard();
    std::vector<std::string> pill;
    fakes::FakeOverlay overlay{pill};
    fakes::CallLog paste;
    fakes::FakeCaretProbe caret{paste};
    fakes::FakeClipboard clipboard{paste};
    fakes::FakeKeySender keys{paste, time};
    fakes::FakeFocusedWindow focus;
    output::Inserter inserter{caret, clipboard, keys, focus, time};
    auto secrets = std::make_shared<fakes::MemorySecretStore>();
    text::Keychain keychain{secrets};
    keychain.setAiKey("sk-soak");
    text::Polisher polisher{time, keychain, settings};
    std::vector<std::string> names;
    for (const auto& file : speech::ModelStore::files())
        names.push_back(file.name);
    speech::ModelFolder model(tones::modelDirectory(), names);

    fakes::FakeAudioSource* microphone = nullptr;
    auto makeUtterance = [&](std::shared_ptr<speech::Recognizer> engine) {
        auto source = std::make_unique<fakes::FakeAudioSource>();
        microphone = source.get();
        return std::make_unique<speech::Utterance>(time, std::move(engine), std::move(source));
    };
    auto controller = app::DictationController::make(time, time, settings, keychain, polisher, inserter,
                                                     {overlay, model, makeUtterance});
    bool idle = false;
    bool loaded = false;
    controller->onRecording = [&](bool recording) { idle = !recording; };
    controller->onEngineLoaded = [&](bool) { loaded = true; };

    // Runs the main queue until `done`; the audio, engine, loading and AI threads go on meanwhile.
    auto settle = [&](const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (time.run(); !done(); time.run()) {
            if (std::chrono::steady_clock::now() > deadline) {
                std::fprintf(stderr, "bench_soak: no progress for 60 s\n");
                std::exit(1);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    };
    controller->loadEngine(false);
    settle([&] { return loaded; });
    if (!controller->engineLoaded()) {
        std::fprintf(stderr, "bench_soak: the tone model did not load from %s\n", tones::modelDirectory().c_str());
        return 1;
    }

    const tones::Samples plain = twoPieces("съешь же ещё этих мягких", "французских булок да выпей чаю");
    const tones::Samples corrected = twoPieces("встреча в пять, нет, в шесть", "так и запишем");
    const std::string plainText = "Съешь же ещё этих свежих французских булок да выпей чаю";
    const std::string correctedText = "Встреча в шесть, так и запишем.";

    std::printf("%d dictations: two pieces each (%.1f s and %.1f s of audio), every other one corrected by the "
                "service on 127.0.0.1; %s\n",
                dictations, static_cast<double>(plain.size()) / 16000, static_cast<double>(corrected.size()) / 16000,
                bench::load().c_str());
    std::printf("%10s %9s %9s %12s %8s %10s\n", "dictation", "seconds", "RSS MB", "heap MB", "fds", "wrong text");
    const auto started = std::chrono::steady_clock::now();
    Sample afterWarmUp{0, 0, 0};
    Sample last{0, 0, 0};
    int wrong = 0;
    for (int n = 1; n <= dictations; ++n) {
        const bool correcting = n % 2 == 0;
        const tones::Samples& audio = correcting ? corrected : plain;
        idle = false;
        controller->pressed();
        for (std::size_t at = 0; at < audio.size(); at += 320) {
            const auto end = audio.begin() + static_cast<std::ptrdiff_t>(std::min(audio.size(), at + 320));
            microphone->deliver(std::vector<float>(audio.begin() + static_cast<std::ptrdiff_t>(at), end));
        }
        time.advance(1.0);
        controller->released();
        settle([&] { return idle; });
        // The paste's completion, then every timer of this dictation (they find it over and do nothing).
        time.advance(controller->maximumHold + 1);

        std::string pasted;
        for (const auto& call : paste) {
            if (call.rfind("write clipboard ", 0) == 0)
                pasted = call.substr(16);
        }
        if (pasted != (correcting ? correctedText : plainText)) {
            if (++wrong <= 3)
                std::fprintf(stderr, "dictation %d pasted \"%s\"\n", n, pasted.c_str());
        }
        // The fakes' own records would grow with the run: only the product's memory is measured.
        paste.clear();
        pill.clear();
        overlay.levels.clear();
        overlay.levels.shrink_to_fit();

        if (n % 100 == 0) {
            last = measure();
            if (n == 100)
                afterWarmUp = last;
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::printf("%10d %9.1f %9.1f %12.2f %8ld %10d\n", n, seconds, last.rssMB, last.heapMB, last.descriptors,
                        wrong);
            std::fflush(stdout);
        }
    }
    std::printf("growth over the last %d: RSS %+.2f MB, heap in use %+.3f MB, descriptors %+ld (goal: at most 2 MB, "
                "none); %d of %d texts wrong\n",
                dictations - 100, last.rssMB - afterWarmUp.rssMB, last.heapMB - afterWarmUp.heapMB,
                last.descriptors - afterWarmUp.descriptors, wrong, dictations);

    controller.reset();
    service.stop();
    listener.join();
    return wrong == 0 ? 0 : 1;
}
