#pragma once

#include "core/MainQueue.h"
#include "speech/Recognizer.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace speech {

/// What the speech model files are doing, as the menu, the first-run window and the controller show it.
struct ModelState {
    enum class Kind { downloading, failed, missing, ready };
    Kind kind = Kind::missing;
    double fraction = 0; ///< downloading only: share of the whole model on disk, 0…1
    std::string message; ///< failed only: one short Russian line

    static ModelState downloading(double fraction) { return {Kind::downloading, fraction, {}}; }
    static ModelState failed(std::string message) { return {Kind::failed, 0, std::move(message)}; }
    static ModelState missing() { return {Kind::missing, 0, {}}; }
    static ModelState ready() { return {Kind::ready, 0, {}}; }

    /// Equal when the cases are equal and, for downloading and failed, their payloads too.
    bool operator==(const ModelState& other) const;
};

/// The speech model on disk: the downloadable one (ModelStore) or a folder the user brings
/// (ModelFolder). Main thread, except verify() and load(), which block and run off it.
class Model {
public:
    Model() = default;
    virtual ~Model() = default;
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    virtual const ModelState& state() const = 0;
    /// True when every file is in place; cheap (no digests).
    virtual bool isReady() const = 0;
    /// Starts getting what is missing; nothing while that runs.
    virtual void download() = 0;
    virtual std::filesystem::path directory() const = 0;
    /// Checks the files' contents; false when they are damaged. Slow: call off the main thread.
    virtual bool verify() = 0;

    /// Checks the files and builds a recogniser on them, biased towards the terms of `terms` when
    /// given. Blocks for seconds: call off the main thread. Throws Engine::Failure.
    virtual std::shared_ptr<Recognizer> load(const std::optional<std::filesystem::path>& terms);

    /// Called on the main thread with each new state, in order. Set by the owner.
    std::function<void(const ModelState&)> onChange;
};

/// A model folder the user brings (RUVEX_VOICE_MODEL_DIR): used as it is, never downloaded into
/// and never checked against the digests of the downloadable model. Ready when every model file is
/// there.
class ModelFolder : public Model {
public:
    /// `files` are the names the recogniser reads from the folder.
    ModelFolder(std::filesystem::path folder, std::vector<std::string> files);

    const ModelState& state() const override { return current; }
    bool isReady() const override;
    /// Nothing is downloaded: reports the folder as failed when files are missing, so the user sees why.
    void download() override;
    std::filesystem::path directory() const override { return folder; }
    /// Only that the files are there.
    bool verify() override { return isReady(); }

    /// The environment variable naming such a folder.
    static constexpr const char* variable = "RUVEX_VOICE_MODEL_DIR";

private:
    std::filesystem::path folder;
    std::vector<std::string> files;
    ModelState current;
};

/// The model the program uses: the folder named by RUVEX_VOICE_MODEL_DIR as it is, else the
/// downloadable one, whose events go to `main`.
std::unique_ptr<Model> makeModel(core::MainQueue& main);

} // namespace speech
