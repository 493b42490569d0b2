#include "app/DictationController.h"

#include "core/Unicode.h"

#include <cmath>
#include <exception>
#include <utility>

namespace app {

namespace {
constexpr double defaultFlash = 2.4;
constexpr const char* loadFailure = "Модель речи не загрузилась";
constexpr const char* microphoneGone = "Микрофон отключился";
} // namespace

std::shared_ptr<DictationController> DictationController::make(core::MainQueue& main, const core::Clock& clock,
                                                               core::Defaults& settings, text::Keychain& keychain,
                                                               text::Polisher& polisher, output::Inserter& inserter,
                                                               Seams seams) {
    return std::shared_ptr<DictationController>(
        new DictationController(main, clock, settings, keychain, polisher, inserter, std::move(seams)));
}

DictationController::DictationController(core::MainQueue& main, const core::Clock& clock, core::Defaults& settings,
                                         text::Keychain& keychain, text::Polisher& polisher, output::Inserter& inserter,
                                         Seams seams)
    : main(main), clock(clock), settings(settings), keychain(keychain), polisher(polisher), inserter(inserter),
      seams(std::move(seams)), dictionary(text::Vocabulary::load()), preset(text::Preset::saved(settings)) {}

DictationController::~DictationController() {
    if (utterance) {
        // Gone with its recorder, whose queue has then handed everything to the session.
        utterance->cancel();
        utterance.reset();
    }
    if (auto busy = dictationEngine.lock()) {
        busy->queue().sync([] {});
    }
}

bool DictationController::aiCleanup() const {
    return settings.boolean("aiCleanup").value_or(true);
}

std::string DictationController::whyNoEngine() const {
    if (loadError)
        return *loadError;
    const speech::ModelState& state = seams.model.state();
    switch (state.kind) {
    case speech::ModelState::Kind::failed:
        return "Модель речи не скачалась: повторите из меню";
    case speech::ModelState::Kind::downloading:
        return "Модель речи скачивается: " + std::to_string(static_cast<long long>(std::floor(state.fraction * 100))) +
               "%";
    default:
        return "Модель речи загружается…";
    }
}

void DictationController::pressed() {
    if (utterance || thinking)
        return;
    if (!engine) {
        seams.overlay.flash(whyNoEngine(), defaultFlash);
        return;
    }
    auto next = seams.makeUtterance(engine);
    std::weak_ptr<DictationController> weak = weak_from_this();
    next->onLevel = [weak](float value) {
        if (auto self = weak.lock())
            self->seams.overlay.level(value);
    };
    next->onLost = [weak] {
        if (auto self = weak.lock())
            self->microphoneLost();
    };
    try {
        next->start();
    } catch (const std::exception& failure) {
        seams.overlay.flash(failure.what(), defaultFlash);
        return;
    }
    utterance = std::move(next);
    dictationEngine = engine;
    cutShort = false;
    ++phrase;
    pressedAt = clock.now();
    preset = text::Preset::saved(settings);
    seams.overlay.setTag(preset.tag());
    if (onRecording)
        onRecording(true);

    const std::int64_t current = phrase;
    main.postAfter(listeningDelay, [weak, current] {
        if (auto self = weak.lock(); self && self->recording(current))
            self->seams.overlay.show(Pill::listening);
    });
    main.postAfter(maximumHold, [weak, current] {
        if (auto self = weak.lock(); self && self->recording(current))
            self->released();
    });
}

void DictationController::released() {
    if (!utterance || thinking)
        return;
    if (clock.now() - pressedAt < minimumHold) {
        utterance->cancel();
        reset();
        seams.overlay.hide();
        return;
    }
    thinking = true;
    seams.overlay.show(Pill::thinking);

    // The utterance delivers the joined text on the engine's queue, where polishing starts; the
    // polisher completes on the main thread.
    const std::int64_t current = phrase;
    const bool useAI = aiCleanup();
    const text::Preset taken = preset;
    std::weak_ptr<DictationController> weak = weak_from_this();
    utterance->finish([&polisher = polisher, taken, useAI, dictionary = dictionary, weak, current](std::string joined) {
        polisher.polish(joined, taken, useAI, dictionary, [weak, current, taken](std::string text, bool fallback) {
            if (auto self = weak.lock())
                self->result(current, taken, text, fallback);
        });
    });

    const double watchdog = taken.rewrites() ? text::Polisher::rewriteTimeout + 10 : recognitionTimeout;
    main.postAfter(watchdog, [weak, current] {
        auto self = weak.lock();
        if (self && self->phrase == current && self->thinking) {
            self->reset();
            self->seams.overlay.flash("Не получилось распознать", defaultFlash);
        }
    });
}

void DictationController::microphoneLost() {
    if (!utterance || thinking)
        return;
    if (clock.now() - pressedAt < minimumHold) {
        utterance->cancel();
        reset();
        seams.overlay.flash(microphoneGone, defaultFlash);
        return;
    }
    released();
    cutShort = true;
}

void DictationController::result(std::int64_t number, const text::Preset& taken, const std::string& text,
                                 bool fallback) {
    if (phrase != number || !thinking)
        return;
    reset();
    if (text.empty()) {
        seams.overlay.flash(cutShort ? microphoneGone : "Не расслышал", defaultFlash);
        return;
    }
    seams.overlay.hide();
    insert(text);
    recent.insert(recent.begin(), text);
    if (recent.size() > historyLimit)
        recent.pop_back();
    // Said after the paste, so the user knows the text stops where the microphone did.
    if (cutShort) {
        seams.overlay.flash(microphoneGone, defaultFlash);
        return;
    }
    if (fallback) {
        const text::AiService service = text::AiService::saved(settings);
        std::string why = "ИИ не ответил";
        if (service.refusal())
            why = "Адрес ИИ без https";
        else if (!service.available(keychain.aiKey().has_value()))
            why = "Нет ключа ИИ";
        seams.overlay.flash(why + (taken.english ? ": вставил по-русски" : ": вставил как сказано"), 3.5);
        return;
    }
    if (taken.english) {
        const std::size_t count = core::unicode::length(text);
        if (count > 280)
            seams.overlay.flash("Пост длиннее 280 знаков: " + std::to_string(count), 3.0);
    }
}

void DictationController::insert(const std::string& text) {
    std::weak_ptr<DictationController> weak = weak_from_this();
    inserter.insert(text, [weak](bool pasted) {
        auto self = weak.lock();
        if (self && !pasted)
            self->seams.overlay.flash("Не удалось вставить: текст в буфере обмена", 3.5);
    });
}

void DictationController::cancel() {
    if (utterance)
        utterance->cancel();
    reset();
    seams.overlay.hide();
}

void DictationController::reset() {
    utterance.reset();
    thinking = false;
    if (onRecording)
        onRecording(false);
}

void DictationController::loadEngine(bool reload) {
    if (engine && !reload)
        return;
    // The terms file is written here, on the main thread, so the loading thread reads no controller state.
    std::optional<std::filesystem::path> terms = dictionary.writeTermsFile();
    std::weak_ptr<DictationController> weak = weak_from_this();
    loading.post([weak, &model = seams.model, &main = main, terms] {
        std::shared_ptr<speech::Recognizer> loaded;
        std::optional<std::string> error;
        try {
            loaded = model.load(terms);
        } catch (const std::exception& failure) {
            error = failure.what();
        }
        if (!loaded && !error)
            error = loadFailure;
        main.post([weak, loaded = std::move(loaded), error = std::move(error)]() mutable {
            if (auto self = weak.lock())
                self->engineLoadFinished(std::move(loaded), std::move(error));
        });
    });
}

void DictationController::engineLoadFinished(std::shared_ptr<speech::Recognizer> loaded,
                                             std::optional<std::string> error) {
    if (loaded) {
        engine = std::move(loaded);
        loadError.reset();
    } else {
        // A failed reload keeps the engine that works.
        loadError = std::move(error);
    }
    if (onEngineLoaded)
        onEngineLoaded(!loadError);
}

void DictationController::dictionarySaved(const std::string& text) {
    try {
        text::Vocabulary::save(text);
    } catch (const std::exception& failure) {
        seams.overlay.flash(std::string("Словарь не сохранился: ") + failure.what(), defaultFlash);
        return;
    }
    const std::vector<std::string> previousTerms = dictionary.terms;
    dictionary = text::Vocabulary(text);
    if (previousTerms != dictionary.terms && seams.model.isReady())
        loadEngine(true);
    seams.overlay.flash("Словарь сохранен", defaultFlash);
}

void DictationController::modelStateChanged(const speech::ModelState& state) {
    switch (state.kind) {
    case speech::ModelState::Kind::failed:
        seams.overlay.flash("Модель речи не скачалась: " + state.message, 4.0);
        break;
    case speech::ModelState::Kind::ready:
        loadEngine(false);
        break;
    default:
        break;
    }
}

} // namespace app
