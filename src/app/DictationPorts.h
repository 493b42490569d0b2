#pragma once

#include "text/Presets.h"
#include "text/Vocabulary.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

/// The small interfaces through which the dictation controller drives the rest of the program.
/// The application implements them over the real components; the tests over recording fakes.
namespace app {

/// What the pill shows while a dictation runs.
enum class Pill { listening, thinking };

/// The floating pill. Main thread only.
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

/// One microphone capture, made for one press.
class RecorderPort {
public:
    virtual ~RecorderPort() = default;
    /// Called on the audio queue with each chunk of 16 kHz mono samples. Set before start().
    std::function<void(const std::vector<float>&)> onSamples;
    /// Called on the main thread with each chunk's level. Set before start().
    std::function<void(float)> onLevel;
    /// Begins capture; throws a std::exception whose what() is the text shown to the user.
    virtual void start() = 0;
    /// Ends capture at once; `then` runs on the audio queue after every chunk already captured.
    virtual void stop(std::function<void()> then) = 0;
};

/// One dictation's recognition: fed from the audio queue, finished or cancelled once.
class SessionPort {
public:
    virtual ~SessionPort() = default;
    virtual void feed(const std::vector<float>& samples) = 0;
    /// `completion` receives the joined text (empty when nothing was heard or after cancel),
    /// once, on the engine's queue.
    virtual void finish(std::function<void(std::string)> completion) = 0;
    virtual void cancel() = 0;
};

/// A loaded recogniser, shared by every session made on it.
class Recogniser {
public:
    virtual ~Recogniser() = default;
    virtual std::shared_ptr<SessionPort> makeSession() = 0;
};

/// The model files as the controller sees them: their state, where they are, how to get them.
struct ModelStatus {
    enum class Kind { downloading, failed, missing, ready };
    Kind kind = Kind::missing;
    double fraction = 0; ///< downloading only, 0 to 1
    std::string message; ///< failed only
};

/// The model store. Main thread, except verify() which runs on the loading thread.
class ModelPort {
public:
    virtual ~ModelPort() = default;
    virtual ModelStatus state() const = 0;
    virtual bool isReady() const = 0;
    /// Starts the download of what is missing; nothing while one runs.
    virtual void download() = 0;
    virtual std::filesystem::path directory() const = 0;
    /// Checks the files' contents before the engine is built on them; false when they are damaged.
    /// Slow: called off the main thread.
    virtual bool verify() = 0;

    /// Called on the main thread with each new state. Set by the owner.
    std::function<void(const ModelStatus&)> onChange;
};

/// The polisher's result: the final text, and whether a rewrite the preset asked for did not happen.
using PolishCompletion = std::function<void(std::string text, bool fallback)>;

/// Everything the controller calls that is not its own state. Every member must be set.
struct DictationServices {
    OverlayPort* overlay = nullptr;
    ModelPort* models = nullptr;
    /// Draws the tray glyph in its recording or idle form.
    std::function<void(bool recording)> setGlyph;
    /// A fresh capture object for one press.
    std::function<std::unique_ptr<RecorderPort>()> makeRecorder;
    /// Local cleanup, replacements and the AI step. Called on the engine's queue; completes on the main thread.
    std::function<void(std::string text, text::Preset preset, bool useAI, text::Vocabulary vocabulary,
                       PolishCompletion completion)>
        polish;
    /// How long the polisher waits for the AI at most, in seconds.
    double rewriteTimeout = 30;
    /// Types the text into the focused application.
    std::function<void(const std::string&)> insert;
    /// True when an AI key is stored.
    std::function<bool()> hasAIKey;
    /// The style and English flag the user chose last.
    std::function<text::Preset()> savedPreset;
    /// Builds a recogniser on the model folder and the terms file (none: no hotwords). Blocks while
    /// the model loads; throws a std::exception whose what() is the text shown to the user.
    std::function<std::shared_ptr<Recogniser>(const std::filesystem::path& model,
                                              const std::optional<std::filesystem::path>& terms)>
        buildEngine;
    /// Runs slow work off the main thread (the engine load).
    std::function<void(std::function<void()>)> background;
};

} // namespace app
