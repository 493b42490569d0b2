#pragma once

#include "app/DictationController.h"
#include "fakes/FakeDictation.h"
#include "fakes/VirtualTime.h"
#include "support/TempDir.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

/// A dictation controller wired to recording fakes on a virtual time line, in a private home folder.
struct DictationHarness {
    struct PolishCall {
        std::string text;
        text::Preset preset;
        bool useAI;
        text::Vocabulary vocabulary;
        app::PolishCompletion completion;
    };
    struct Build {
        std::filesystem::path model;
        std::optional<std::filesystem::path> terms;
    };

    testsupport::IsolatedHome home;
    fakes::Log log;
    fakes::VirtualTime time;
    fakes::FakeOverlay overlay{log};
    fakes::FakeModels models;
    fakes::FakeRecorder::Shared recorders;
    std::vector<PolishCall> polishes;
    std::vector<std::string> inserted;
    bool keyStored = false;
    std::vector<Build> builds;
    /// What the next engine build gives; by default a fresh fake recogniser.
    std::function<std::shared_ptr<app::Recogniser>()> nextBuild;
    std::vector<std::function<void()>> backgroundWork;
    std::shared_ptr<fakes::FakeRecogniser> recogniser = std::make_shared<fakes::FakeRecogniser>(log);
    std::shared_ptr<app::DictationController> controller;

    DictationHarness() {
        app::DictationServices services;
        services.overlay = &overlay;
        services.models = &models;
        services.setGlyph = [this](bool recording) { log.push_back(recording ? "glyph recording" : "glyph idle"); };
        services.makeRecorder = [this] { return std::make_unique<fakes::FakeRecorder>(log, recorders); };
        services.polish = [this](std::string text, text::Preset preset, bool useAI, text::Vocabulary vocabulary,
                                 app::PolishCompletion completion) {
            polishes.push_back({std::move(text), preset, useAI, std::move(vocabulary), std::move(completion)});
        };
        services.insert = [this](const std::string& text) {
            log.push_back("insert " + text);
            inserted.push_back(text);
        };
        services.hasAIKey = [this] { return keyStored; };
        services.savedPreset = [] { return text::Preset::saved(); };
        services.buildEngine = [this](const std::filesystem::path& model,
                                      const std::optional<std::filesystem::path>& terms) {
            builds.push_back({model, terms});
            return nextBuild ? nextBuild()
                             : std::shared_ptr<app::Recogniser>(std::make_shared<fakes::FakeRecogniser>(log));
        };
        services.background = [this](std::function<void()> work) { backgroundWork.push_back(std::move(work)); };
        controller = app::DictationController::make(time, time, core::Defaults::standard(), std::move(services));
        controller->engine = recogniser;
    }

    /// Runs the loads handed to the background, then their results on the main queue.
    void runBackground() {
        auto work = std::move(backgroundWork);
        backgroundWork.clear();
        for (auto& item : work)
            item();
        time.run();
    }

    /// Runs the recorders' pending stop completions, as the audio queue does.
    void runStops() {
        auto stops = std::move(recorders.stops);
        recorders.stops.clear();
        for (auto& stop : stops)
            stop();
    }

    fakes::FakeSession& lastSession() { return *recogniser->sessions.back(); }

    /// Stops capture and lets the session finish with `joined`; the polisher then holds the call.
    void recognise(const std::string& joined) {
        runStops();
        lastSession().completion(joined);
    }

    /// One whole dictation held for `seconds`, recognised as `joined` and polished to `text`.
    void dictate(const std::string& text, bool fallback = false, double seconds = 1.0) {
        controller->pressed();
        time.advance(seconds);
        controller->released();
        recognise("сырой текст");
        polishes.back().completion(text, fallback);
    }

    bool idle() const { return !controller->recorder && !controller->session && !controller->thinking; }

    bool logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }

    std::vector<std::string> takeLog() {
        auto taken = std::move(log);
        log.clear();
        return taken;
    }
};
