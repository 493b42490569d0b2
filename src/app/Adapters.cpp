#include "app/Adapters.h"

#include "app/ModelFolder.h"
#include "speech/Dictation.h"
#include "speech/Engine.h"
#include "speech/ModelStore.h"
#include "speech/Recorder.h"
#include "ui/Overlay.h"

#include <cstdlib>
#include <fstream>

namespace app {

void testLog(const std::string& line) {
    static const char* const file = std::getenv("RUVEX_VOICE_TEST_LOG");
    if (file && *file)
        std::ofstream(file, std::ios::app) << line << '\n';
}

OverlayAdapter::OverlayAdapter(ui::Overlay& overlay) : overlay(overlay) {}

void OverlayAdapter::show(Pill pill) {
    overlay.show(pill == Pill::listening ? ui::Overlay::State::listening() : ui::Overlay::State::thinking());
    testLog(pill == Pill::listening ? "listening" : "thinking");
}

void OverlayAdapter::flash(const std::string& text, double seconds) {
    overlay.flash(text, seconds);
    testLog("flash " + text);
}

void OverlayAdapter::hide() {
    overlay.hide();
    testLog("hide");
}

void OverlayAdapter::level(float value) {
    overlay.level(value);
}

void OverlayAdapter::setTag(const std::optional<std::string>& tag) {
    overlay.setTag(tag);
}

namespace {
ModelStatus statusOf(const speech::ModelStore::State& state) {
    using Kind = speech::ModelStore::State::Kind;
    switch (state.kind) {
    case Kind::downloading:
        return {ModelStatus::Kind::downloading, state.fraction, {}};
    case Kind::failed:
        return {ModelStatus::Kind::failed, 0, state.message};
    case Kind::ready:
        return {ModelStatus::Kind::ready, 0, {}};
    case Kind::missing:
        break;
    }
    return {ModelStatus::Kind::missing, 0, {}};
}
} // namespace

StoreModels::StoreModels(std::unique_ptr<speech::ModelStore> store) : store(std::move(store)) {
    this->store->onChange = [this](const speech::ModelStore::State& state) {
        if (onChange)
            onChange(statusOf(state));
    };
}

StoreModels::~StoreModels() = default;

ModelStatus StoreModels::state() const {
    return statusOf(store->state());
}

bool StoreModels::isReady() const {
    return store->isReady();
}

void StoreModels::download() {
    store->download();
}

std::filesystem::path StoreModels::directory() const {
    return store->directory;
}

bool StoreModels::verify() {
    return store->verify();
}

RecorderAdapter::RecorderAdapter(std::unique_ptr<speech::Recorder> recorder) : recorder(std::move(recorder)) {}

RecorderAdapter::~RecorderAdapter() = default;

void RecorderAdapter::start() {
    recorder->onSamples = onSamples;
    recorder->onLevel = onLevel;
    recorder->start();
}

void RecorderAdapter::stop(std::function<void()> then) {
    recorder->stop(std::move(then));
}

namespace {
class SessionAdapter final : public SessionPort {
public:
    explicit SessionAdapter(std::shared_ptr<speech::Engine> engine) : session(std::move(engine)) {}
    void feed(const std::vector<float>& samples) override { session.feed(samples); }
    void finish(std::function<void(std::string)> completion) override { session.finish(std::move(completion)); }
    void cancel() override { session.cancel(); }

private:
    speech::DictationSession session;
};
} // namespace

EngineRecogniser::EngineRecogniser(std::shared_ptr<speech::Engine> engine) : engine(std::move(engine)) {}

std::shared_ptr<SessionPort> EngineRecogniser::makeSession() {
    return std::make_shared<SessionAdapter>(engine);
}

std::shared_ptr<Recogniser> buildEngine(const std::filesystem::path& model,
                                        const std::optional<std::filesystem::path>& terms) {
    return std::make_shared<EngineRecogniser>(std::make_shared<speech::Engine>(model, terms));
}

speech::ModelStore::State storeState(const ModelStatus& status) {
    switch (status.kind) {
    case ModelStatus::Kind::downloading:
        return speech::ModelStore::State::downloading(status.fraction);
    case ModelStatus::Kind::failed:
        return speech::ModelStore::State::failed(status.message);
    case ModelStatus::Kind::ready:
        return speech::ModelStore::State::ready();
    case ModelStatus::Kind::missing:
        break;
    }
    return speech::ModelStore::State::missing();
}

std::unique_ptr<ModelPort> makeModels(core::MainQueue& main) {
    if (const char* folder = std::getenv(ModelFolder::variable); folder && *folder) {
        std::vector<std::string> names;
        for (const auto& file : speech::ModelStore::files())
            names.push_back(file.name);
        return std::make_unique<ModelFolder>(folder, std::move(names));
    }
    return std::make_unique<StoreModels>(std::make_unique<speech::ModelStore>(main));
}

} // namespace app
