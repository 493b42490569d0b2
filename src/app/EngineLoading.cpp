// The controller's engine and dictionary handling: the background engine load, the reload when
// saved terms change, and the model store's state changes.
#include "app/DictationController.h"

#include <exception>
#include <utility>

namespace app {

void DictationController::loadEngine(bool reload) {
    if (engine && !reload)
        return;
    // Both are taken here, on the main thread, so the loading thread reads no controller state.
    std::filesystem::path directory = services.models->directory();
    std::optional<std::filesystem::path> terms = vocabulary.writeTermsFile();
    std::weak_ptr<DictationController> weak = weak_from_this();
    ModelPort* models = services.models;
    auto build = services.buildEngine;
    core::MainQueue* mainQueue = &main;
    services.background([weak, models, build, directory, terms, mainQueue] {
        std::shared_ptr<Recogniser> loaded;
        std::optional<std::string> error;
        try {
            if (!models->verify())
                error = "Модель речи не загрузилась";
            else
                loaded = build(directory, terms);
        } catch (const std::exception& failure) {
            error = failure.what();
        }
        if (!loaded && !error)
            error = "Модель речи не загрузилась";
        mainQueue->post([weak, loaded = std::move(loaded), error = std::move(error)]() mutable {
            if (auto self = weak.lock())
                self->engineLoaded(std::move(loaded), std::move(error));
        });
    });
}

void DictationController::engineLoaded(std::shared_ptr<Recogniser> loaded, std::optional<std::string> error) {
    if (loaded) {
        engine = std::move(loaded);
        engineError.reset();
    } else {
        // A failed reload keeps the engine that works.
        engineError = std::move(error);
    }
    if (onEngineLoaded)
        onEngineLoaded(engineError == std::nullopt);
}

void DictationController::dictionarySaved(const std::string& text) {
    try {
        text::Vocabulary::save(text);
    } catch (const std::exception& failure) {
        services.overlay->flash(std::string("Словарь не сохранился: ") + failure.what(), 2.4);
        return;
    }
    const std::vector<std::string> previousTerms = vocabulary.terms;
    vocabulary = text::Vocabulary(text);
    if (previousTerms != vocabulary.terms && services.models->isReady())
        loadEngine(true);
    services.overlay->flash("Словарь сохранен", 2.4);
}

void DictationController::modelStateChanged(const ModelStatus& state) {
    switch (state.kind) {
    case ModelStatus::Kind::failed:
        services.overlay->flash("Модель речи не скачалась: " + state.message, 4.0);
        break;
    case ModelStatus::Kind::ready:
        loadEngine(false);
        break;
    default:
        break;
    }
}

} // namespace app
