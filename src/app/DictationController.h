#pragma once

#include "app/DictationPorts.h"
#include "core/Clock.h"
#include "core/Defaults.h"
#include "core/MainQueue.h"
#include "text/Presets.h"
#include "text/Vocabulary.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace app {

/// The dictation cycle: turns the trigger key's press and release into one dictation (capture,
/// recognition, polishing, insertion) and keeps the engine, the dictionary in force and the history.
/// One dictation at a time. Every member runs on the main thread; delayed and asynchronous work
/// holds the controller weakly, so it is always owned through a shared_ptr (see make()).
class DictationController : public std::enable_shared_from_this<DictationController> {
public:
    /// `main`, `clock` and `settings` must outlive the controller.
    static std::shared_ptr<DictationController> make(core::MainQueue& main, const core::Clock& clock,
                                                     core::Defaults settings, DictationServices services);

    DictationController(const DictationController&) = delete;
    DictationController& operator=(const DictationController&) = delete;

    /// The trigger key went down: starts a dictation when none runs and an engine is loaded.
    void pressed();
    /// The trigger key came up (or the longest hold ran out): discards a short hold, else turns
    /// the recording into text.
    void released();
    /// Another key broke the hold: abandons the current dictation without inserting anything.
    void cancel();
    /// Back to idle: no recorder, no session, not thinking, the idle glyph. Leaves the pill alone.
    void reset();

    /// Whether self-corrections may be sent to the AI: "aiCleanup" when it holds a boolean, else true.
    bool aiCleanup() const;

    /// Starts a background load of the engine; without `reload`, nothing when one is loaded.
    void loadEngine(bool reload);
    /// The editor saved the dictionary: writes it, puts it in force, reloads the engine when the
    /// terms changed, and says how it went.
    void dictionarySaved(const std::string& text);
    /// The model store changed state.
    void modelStateChanged(const ModelStatus& state);

    /// Called on the main thread after each engine load, with whether it succeeded.
    std::function<void(bool loaded)> onEngineLoaded;

    double minimumHold = 0.3;
    double maximumHold = 180.0;
    /// How long after the press the pill starts listening, so that a tap never shows it.
    static constexpr double listeningDelay = 0.15;
    /// How long recognition may take before the dictation is given up (without an AI rewrite).
    static constexpr double recognitionTimeout = 20;
    /// The most history entries kept.
    static constexpr std::size_t historyLimit = 10;

    std::shared_ptr<Recogniser> engine;
    std::optional<std::string> engineError;
    text::Vocabulary vocabulary;
    std::unique_ptr<RecorderPort> recorder;
    std::shared_ptr<SessionPort> session;
    double pressedAt;
    text::Preset preset;
    bool thinking = false;
    std::int64_t phrase = 0;
    /// The last inserted texts, newest first.
    std::vector<std::string> history;

private:
    DictationController(core::MainQueue& main, const core::Clock& clock, core::Defaults settings,
                        DictationServices services);

    /// Explains a press that finds no engine.
    std::string whyNoEngine() const;
    /// The polished text of dictation `phrase` arrived.
    void result(std::int64_t phraseOfResult, const text::Preset& presetOfResult, const std::string& text,
                bool fallback);
    /// The load started by loadEngine finished.
    void engineLoaded(std::shared_ptr<Recogniser> loaded, std::optional<std::string> error);

    core::MainQueue& main;
    const core::Clock& clock;
    core::Defaults settings;
    DictationServices services;
};

/// The number of user-perceived characters (grapheme clusters) of a UTF-8 text.
std::size_t graphemeCount(const std::string& text);

} // namespace app
