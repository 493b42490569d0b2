#pragma once

#include "app/DictationController.h"
#include "fakes/FakeAudioSource.h"
#include "fakes/FakeModel.h"
#include "fakes/FakeOverlay.h"
#include "fakes/FakePaste.h"
#include "fakes/MemorySecretStore.h"
#include "fakes/VirtualTime.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

/// A dictation controller on a virtual time line, in a private home, with the real utterance, polisher
/// and inserter over fakes of the microphone, the recogniser, the pill and the desktop's paste.
struct DictationHarness {
    using Lines = std::vector<std::string>;

    testsupport::IsolatedHome home;
    testsupport::ScopedEnv noService{"RUVEX_VOICE_AI_URL", "http://127.0.0.1:9"};
    fakes::VirtualTime time;
    core::Defaults settings = core::Defaults::standard();
    Lines log;
    fakes::FakeOverlay overlay{log};
    fakes::CallLog paste;
    fakes::FakeCaretProbe caret{paste};
    fakes::FakeClipboard clipboard{paste};
    fakes::FakeKeySender keys{paste, time};
    fakes::FakeFocusedWindow focus;
    output::Inserter inserter{caret, clipboard, keys, focus, time};
    std::shared_ptr<fakes::MemorySecretStore> secrets = std::make_shared<fakes::MemorySecretStore>();
    text::Keychain keychain{secrets};
    text::Polisher polisher{time, keychain, settings};
    fakes::FakeModel model;
    bool microphoneWorks = true;
    fakes::FakeAudioSource* microphone = nullptr; // of the current press; owned by its utterance
    std::shared_ptr<app::DictationController> controller;
    int loaded = 0;

    explicit DictationHarness(bool withEngine = true) {
        controller = app::DictationController::make(
            time, time, settings, keychain, polisher, inserter,
            {overlay, model, [this](std::shared_ptr<speech::Recognizer> engine) {
                 auto source = std::make_unique<fakes::FakeAudioSource>();
                 source->startResult = microphoneWorks;
                 microphone = source.get();
                 return std::make_unique<speech::Utterance>(time, std::move(engine), std::move(source));
             }});
        controller->onRecording = [this](bool recording) { log.push_back(recording ? "recording" : "idle"); };
        controller->onEngineLoaded = [this](bool) { ++loaded; };
        if (withEngine)
            load(false);
    }

    /// Runs the main queue's due work until `done`; other threads (audio, engine, loading, AI) run on
    /// their own meanwhile. False when it did not come within a generous bound.
    bool settle(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (time.run(); !done(); time.run()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    /// Starts a load and waits for its result.
    bool load(bool reload) {
        const int before = loaded;
        controller->loadEngine(reload);
        return settle([&] { return loaded > before; });
    }

    /// Speech for the fake recogniser: half a second of silence, then half a second at `level`, heard
    /// as "слово<level × 10>".
    void speak(float level = 0.3f) {
        for (int i = 0; i < 50; ++i)
            microphone->deliver(std::vector<float>(320, i < 25 ? 0.0f : level));
    }

    /// Waits until the controller is idle again after a release.
    bool finished() {
        const bool idle = settle([&] { return logged("idle"); });
        time.run(); // the paste's own completion
        return idle;
    }

    /// One whole dictation held for `seconds`; returns the lines logged from the release on.
    Lines dictate(float level = 0.3f, double seconds = 1.0) {
        log.clear();
        controller->pressed();
        if (microphone && logged("recording"))
            speak(level);
        time.advance(seconds);
        log.clear();
        controller->released();
        finished();
        return take();
    }

    /// What was pasted, in order.
    Lines inserted() const {
        Lines texts;
        for (const auto& call : paste) {
            if (call.rfind("write clipboard ", 0) == 0)
                texts.push_back(call.substr(16));
        }
        return texts;
    }

    bool logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }

    Lines take() { return std::exchange(log, {}); }
};
