#include "app/DictationController.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <cmath>
#include <utility>

namespace app {

namespace {
constexpr double defaultFlash = 2.4;
}

std::shared_ptr<DictationController> DictationController::make(core::MainQueue& main, const core::Clock& clock,
                                                               core::Defaults settings, DictationServices services) {
    return std::shared_ptr<DictationController>(
        new DictationController(main, clock, std::move(settings), std::move(services)));
}

DictationController::DictationController(core::MainQueue& main, const core::Clock& clock, core::Defaults settings,
                                         DictationServices services)
    : vocabulary(text::Vocabulary::load()), pressedAt(clock.now()), preset(services.savedPreset()), main(main),
      clock(clock), settings(std::move(settings)), services(std::move(services)) {}

bool DictationController::aiCleanup() const {
    return settings.boolean("aiCleanup").value_or(true);
}

std::string DictationController::whyNoEngine() const {
    if (engineError)
        return *engineError;
    const ModelStatus state = services.models->state();
    switch (state.kind) {
    case ModelStatus::Kind::failed:
        return "Модель речи не скачалась: повторите из меню";
    case ModelStatus::Kind::downloading:
        return "Модель речи скачивается: " + std::to_string(static_cast<long long>(std::floor(state.fraction * 100))) +
               "%";
    default:
        return "Модель речи загружается…";
    }
}

void DictationController::pressed() {
    if (recorder || thinking)
        return;
    if (!engine) {
        services.overlay->flash(whyNoEngine(), defaultFlash);
        return;
    }
    auto newRecorder = services.makeRecorder();
    auto newSession = engine->makeSession();
    newRecorder->onSamples = [newSession](const std::vector<float>& samples) { newSession->feed(samples); };
    std::weak_ptr<DictationController> weak = weak_from_this();
    newRecorder->onLevel = [weak](float value) {
        if (auto self = weak.lock())
            self->services.overlay->level(value);
    };
    try {
        newRecorder->start();
    } catch (const std::exception& failure) {
        newSession->cancel();
        services.overlay->flash(failure.what(), defaultFlash);
        return;
    }
    recorder = std::move(newRecorder);
    session = std::move(newSession);
    ++phrase;
    pressedAt = clock.now();
    preset = services.savedPreset();
    services.overlay->setTag(preset.tag());
    services.setGlyph(true);

    // The recorder only changes together with `phrase`, so comparing the phrase and the presence of a
    // recorder tells whether this is still the same recording.
    const std::int64_t current = phrase;
    main.postAfter(listeningDelay, [weak, current] {
        auto self = weak.lock();
        if (self && self->phrase == current && self->recorder && !self->thinking)
            self->services.overlay->show(Pill::listening);
    });
    main.postAfter(maximumHold, [weak, current] {
        auto self = weak.lock();
        if (self && self->phrase == current && self->recorder && !self->thinking)
            self->released();
    });
}

void DictationController::released() {
    if (!recorder || !session || thinking)
        return;
    if (clock.now() - pressedAt < minimumHold) {
        recorder->stop([dropped = session] { dropped->cancel(); });
        reset();
        services.overlay->hide();
        return;
    }
    thinking = true;
    services.overlay->show(Pill::thinking);

    const std::int64_t current = phrase;
    const bool useAI = aiCleanup();
    const text::Preset taken = preset;
    std::weak_ptr<DictationController> weak = weak_from_this();
    auto polish = services.polish;
    recorder->stop([finishing = session, polish, taken, useAI, dictionary = vocabulary, weak, current] {
        finishing->finish([polish, taken, useAI, dictionary, weak, current](std::string joined) {
            polish(std::move(joined), taken, useAI, dictionary,
                   [weak, current, taken](std::string text, bool fallback) {
                       if (auto self = weak.lock())
                           self->result(current, taken, text, fallback);
                   });
        });
    });

    const double watchdog = taken.rewrites() ? services.rewriteTimeout + 10 : recognitionTimeout;
    main.postAfter(watchdog, [weak, current] {
        auto self = weak.lock();
        if (self && self->phrase == current && self->thinking) {
            self->reset();
            self->services.overlay->flash("Не получилось распознать", defaultFlash);
        }
    });
}

void DictationController::result(std::int64_t phraseOfResult, const text::Preset& presetOfResult,
                                 const std::string& text, bool fallback) {
    if (phrase != phraseOfResult || !thinking)
        return;
    reset();
    if (text.empty()) {
        services.overlay->flash("Не расслышал", defaultFlash);
        return;
    }
    services.overlay->hide();
    services.insert(text);
    history.insert(history.begin(), text);
    if (history.size() > historyLimit)
        history.pop_back();
    if (fallback) {
        const std::string why = services.hasAIKey() ? "ИИ не ответил" : "Нет ключа ИИ";
        services.overlay->flash(why + (presetOfResult.english ? ": вставил по-русски" : ": вставил как сказано"), 3.5);
        return;
    }
    if (presetOfResult.english) {
        const std::size_t count = graphemeCount(text);
        if (count > 280)
            services.overlay->flash("Пост длиннее 280 знаков: " + std::to_string(count), 3.0);
    }
}

void DictationController::cancel() {
    if (session && recorder)
        recorder->stop([dropped = session] { dropped->cancel(); });
    reset();
    services.overlay->hide();
}

void DictationController::reset() {
    recorder.reset();
    session.reset();
    thinking = false;
    services.setGlyph(false);
}

std::size_t graphemeCount(const std::string& text) {
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(text);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> graphemes(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status))
        return static_cast<std::size_t>(unicode.countChar32());
    graphemes->setText(unicode);
    std::size_t count = 0;
    graphemes->first();
    while (graphemes->next() != icu::BreakIterator::DONE)
        ++count;
    return count;
}

} // namespace app
