#pragma once

#include "core/Clock.h"
#include "core/Defaults.h"
#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "output/Inserter.h"
#include "speech/Model.h"
#include "speech/Utterance.h"
#include "text/Keychain.h"
#include "text/Polisher.h"
#include "text/Presets.h"
#include "text/Vocabulary.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace app {

/// What the pill shows while a dictation runs.
enum class Pill { listening, thinking };

/// The floating pill as the controller drives it (the Qt one lives in ui/). Main thread only.
class OverlayPort {
public:
    virtual ~OverlayPort() = default;
    virtual void show(Pill pill) = 0;
    /// Shows one short line and hides it after `seconds`.
    virtual void flash(const std::string& text, double seconds) = 0;
    virtual void hide() = 0;
    /// The microphone level of the last chunk, 0 to 1.
    virtual void level(float value) = 0;
    /// The active preset's label drawn beside the bars or dots.
    virtual void setTag(const std::optional<std::string>& tag) = 0;
};

/// The dictation cycle: turns the trigger key's press and release into one dictation (capture,
/// recognition, polishing, insertion) and keeps the engine, the dictionary in force and the history.
/// One dictation at a time. Every member runs on the main thread; delayed and asynchronous work
/// holds the controller weakly, so it is always owned through a shared_ptr (see make()).
class DictationController : public std::enable_shared_from_this<DictationController> {
public:
    /// Where the controller meets the rest of the program.
    struct Seams {
        OverlayPort& overlay;
        speech::Model& model;
        /// A fresh utterance on `engine`, one per press.
        std::function<std::unique_ptr<speech::Utterance>(std::shared_ptr<speech::Recognizer> engine)> makeUtterance;
    };

    /// Everything given must outlive the controller.
    static std::shared_ptr<DictationController> make(core::MainQueue& main, const core::Clock& clock,
                                                     core::Defaults& settings, text::Keychain& keychain,
                                                     text::Polisher& polisher, output::Inserter& inserter, Seams seams);
    /// Ends a dictation still running and waits for the piece being decoded, whose completion calls
    /// the polisher (which must outlive the controller).
    ~DictationController();
    DictationController(const DictationController&) = delete;
    DictationController& operator=(const DictationController&) = delete;

    /// The trigger key went down: starts a dictation when none runs and an engine is loaded.
    void pressed();
    /// The trigger key came up (or the longest hold ran out): discards a short hold, else turns
    /// the recording into text.
    void released();
    /// Another key broke the hold: abandons the current dictation without inserting anything.
    void cancel();

    /// Starts a background load of the engine; without `reload`, nothing when one is loaded.
    void loadEngine(bool reload);
    /// The editor saved the dictionary: writes it, puts it in force, reloads the engine when the
    /// terms changed, and says how it went.
    void dictionarySaved(const std::string& text);
    /// The model changed state.
    void modelStateChanged(const speech::ModelState& state);

    /// Whether self-corrections may be sent to the AI: "aiCleanup" when it holds a boolean, else true.
    bool aiCleanup() const;
    bool engineLoaded() const { return engine != nullptr; }
    /// Why the last load failed, while no load has succeeded since.
    const std::optional<std::string>& engineError() const { return loadError; }
    const text::Vocabulary& vocabulary() const { return dictionary; }
    /// The last inserted texts, newest first.
    const std::vector<std::string>& history() const { return recent; }

    /// Called on the main thread after each engine load, with whether it succeeded.
    std::function<void(bool loaded)> onEngineLoaded;
    /// Called when a recording starts (true) and when the controller is idle again (false).
    std::function<void(bool recording)> onRecording;

    double minimumHold = 0.3;
    double maximumHold = 180.0;
    /// How long after the press the pill starts listening, so that a tap never shows it.
    static constexpr double listeningDelay = 0.15;
    /// How long recognition may take before the dictation is given up (without an AI rewrite).
    static constexpr double recognitionTimeout = 20;
    /// The most history entries kept.
    static constexpr std::size_t historyLimit = 10;

private:
    DictationController(core::MainQueue& main, const core::Clock& clock, core::Defaults& settings,
                        text::Keychain& keychain, text::Polisher& polisher, output::Inserter& inserter, Seams seams);

    /// Back to idle: no utterance, not thinking, the idle glyph. Leaves the pill alone.
    void reset();
    /// True while dictation `number` is still the one being recorded.
    bool recording(std::int64_t number) const { return phrase == number && utterance && !thinking; }
    /// The microphone went away during the recording: what was heard is still turned into text.
    void microphoneLost();
    /// Explains a press that finds no engine.
    std::string whyNoEngine() const;
    /// The polished text of dictation `number` arrived.
    void result(std::int64_t number, const text::Preset& taken, const std::string& text, bool fallback);
    /// Puts the text where the cursor stands and says so when it could not.
    void insert(const std::string& text);
    /// The load started by loadEngine finished.
    void engineLoadFinished(std::shared_ptr<speech::Recognizer> loaded, std::optional<std::string> error);

    core::MainQueue& main;
    const core::Clock& clock;
    core::Defaults& settings;
    text::Keychain& keychain;
    text::Polisher& polisher;
    output::Inserter& inserter;
    Seams seams;

    std::shared_ptr<speech::Recognizer> engine;
    std::optional<std::string> loadError;
    text::Vocabulary dictionary;
    std::unique_ptr<speech::Utterance> utterance;
    // The engine of the latest dictation, which may still be decoding it after a reload or the watchdog.
    std::weak_ptr<speech::Recognizer> dictationEngine;
    double pressedAt = 0;
    text::Preset preset;
    bool thinking = false;
    // The current dictation lost its microphone before the release: its result says so.
    bool cutShort = false;
    std::int64_t phrase = 0;
    std::vector<std::string> recent;
    // Declared last: joined first, while the model its work reads is still there.
    core::SerialQueue loading{"ruvex.voice.load"};
};

} // namespace app
