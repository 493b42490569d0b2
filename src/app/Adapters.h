#pragma once

#include "app/DictationPorts.h"
#include "core/MainQueue.h"
#include "speech/ModelStore.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace ui {
class Overlay;
}
namespace speech {
class Engine;
class Recorder;
} // namespace speech

/// The dictation controller's ports over the program's real components.
namespace app {

/// When RUVEX_VOICE_TEST_LOG names a file, appends `line` to it: end-to-end tests read from there
/// what the pill showed and when the engine was loaded. Main thread.
void testLog(const std::string& line);

/// The pill. Everything it is asked to show also goes to testLog.
class OverlayAdapter final : public OverlayPort {
public:
    explicit OverlayAdapter(ui::Overlay& overlay);
    void show(Pill pill) override;
    void flash(const std::string& text, double seconds) override;
    void hide() override;
    void level(float value) override;
    void setTag(const std::optional<std::string>& tag) override;

private:
    ui::Overlay& overlay;
};

/// The downloadable model kept by the model store.
class StoreModels final : public ModelPort {
public:
    /// Takes over the store's onChange.
    explicit StoreModels(std::unique_ptr<speech::ModelStore> store);
    ~StoreModels() override;
    ModelStatus state() const override;
    bool isReady() const override;
    void download() override;
    std::filesystem::path directory() const override;
    bool verify() override;

private:
    std::unique_ptr<speech::ModelStore> store;
};

/// One microphone capture through the recorder of the speech layer.
class RecorderAdapter final : public RecorderPort {
public:
    explicit RecorderAdapter(std::unique_ptr<speech::Recorder> recorder);
    ~RecorderAdapter() override;
    /// Hands the callbacks set on this port to the recorder, then starts it.
    void start() override;
    void stop(std::function<void()> then) override;

private:
    std::unique_ptr<speech::Recorder> recorder;
};

/// A loaded recognition engine; each session is a speech::DictationSession on it.
class EngineRecogniser final : public Recogniser {
public:
    explicit EngineRecogniser(std::shared_ptr<speech::Engine> engine);
    std::shared_ptr<SessionPort> makeSession() override;

private:
    std::shared_ptr<speech::Engine> engine;
};

/// Builds the engine on the model folder and the terms file; blocks while the model loads.
std::shared_ptr<Recogniser> buildEngine(const std::filesystem::path& model,
                                        const std::optional<std::filesystem::path>& terms);

/// A model status in the model store's own terms, for the windows and the menu.
speech::ModelStore::State storeState(const ModelStatus& status);

/// The model to use: the folder named by RUVEX_VOICE_MODEL_DIR as it is, else the downloadable one.
std::unique_ptr<ModelPort> makeModels(core::MainQueue& main);

} // namespace app
