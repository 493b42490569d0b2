#include "app/AppDelegate.h"

#include "platform/linux/Autostart.h"
#include "platform/linux/ToolkitAccessibility.h"
#include "ui/AiServiceDialog.h"
#include "ui/KeyDialog.h"
#include "ui/StatusMenu.h"

#include <QApplication>

#include <cstdlib>
#include <fstream>

namespace app {

namespace {

/// The pill as the controller drives it; everything it is asked to show also goes to the test log.
class PillPort final : public OverlayPort {
public:
    PillPort(ui::Overlay& overlay, std::function<void(const std::string&)> log)
        : overlay(overlay), log(std::move(log)) {}
    void show(Pill pill) override {
        overlay.show(pill == Pill::listening ? ui::Overlay::State::listening() : ui::Overlay::State::thinking());
        log(pill == Pill::listening ? "listening" : "thinking");
    }
    void flash(const std::string& text, double seconds) override {
        overlay.flash(text, seconds);
        log("flash " + text);
    }
    void hide() override {
        overlay.hide();
        log("hide");
    }
    void level(float value) override { overlay.level(value); }
    void setTag(const std::optional<std::string>& tag) override { overlay.setTag(tag); }

private:
    ui::Overlay& overlay;
    std::function<void(const std::string&)> log;
};

std::filesystem::path testLogFromEnvironment() {
    const char* file = std::getenv("RUVEX_VOICE_TEST_LOG");
    return file ? file : "";
}

std::vector<std::string> keyTitles() {
    std::vector<std::string> titles;
    for (TriggerKey key : TriggerKey::allCases)
        titles.emplace_back(key.title());
    return titles;
}

int indexOf(TriggerKey key) {
    for (std::size_t i = 0; i < TriggerKey::allCases.size(); ++i) {
        if (TriggerKey::allCases[i] == key)
            return static_cast<int>(i);
    }
    return 0;
}

} // namespace

AppDelegate::AppDelegate(core::MainQueue& main, platform::Desktop givenDesktop, std::unique_ptr<speech::Model> given)
    : main(main), testLogFile(testLogFromEnvironment()), settings(core::Defaults::standard()),
      desktop(std::move(givenDesktop)), keychain(desktop.secretStore), polisher(main, keychain, settings),
      hotkey(*desktop.keyMonitor, TriggerKey::saved(settings)),
      pill(std::make_unique<PillPort>(overlay, [this](const std::string& line) { testLog(line); })),
      model(given ? std::move(given) : speech::makeModel(main)),
      inserter(*desktop.caretProbe, *desktop.clipboard, *desktop.keySender, *desktop.focusedWindow, main),
      onboarding(settings) {
    overlay.translucency = desktop.translucency;
    if (desktop.pillSurface)
        overlay.useSurface(desktop.pillSurface.get());
    controller = DictationController::make(main, clock, settings, keychain, polisher, inserter,
                                           {*pill, *model, [this](std::shared_ptr<speech::Recognizer> engine) {
                                                return std::make_unique<speech::Utterance>(
                                                    this->main, std::move(engine), desktop.microphone());
                                            }});
    controller->onRecording = [this](bool recording) { tray.setRecording(recording); };
    controller->onEngineLoaded = [this](bool loaded) {
        testLog(loaded ? "engine loaded" : "engine failed: " + controller->engineError().value_or(""));
    };

    trustTimer.setInterval(1500);
    QObject::connect(&trustTimer, &QTimer::timeout, [this] { pollTrust(); });
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::testLog(const std::string& line) const {
    if (!testLogFile.empty())
        std::ofstream(testLogFile, std::ios::app) << line << '\n';
}

void AppDelegate::pollTrust() {
    const auto before = ui::StatusMenu::keyboardProblem(keyboard);
    keysHeard = desktop.trust->isTrusted();
    keyboard = desktop.trust->access();
    if (keysHeard && !hotkeyStarted) {
        hotkeyStarted = true;
        hotkey.start();
        pill->flash("Готово: держите " + std::string(hotkey.key().shortName()) + " и говорите", 3.5);
        return;
    }
    // The user presses the key and nothing happens: the pill must say why at the moment it starts,
    // and say so again when it is mended.
    const auto now = ui::StatusMenu::keyboardProblem(keyboard);
    if (now && now != before)
        pill->flash(*now, 4.0);
    else if (!now && before)
        pill->flash("Готово: держите " + std::string(hotkey.key().shortName()) + " и говорите", 3.5);
}

void AppDelegate::wireOnboarding() {
    onboarding.keyTitles = keyTitles();
    onboarding.chosenKey = indexOf(hotkey.key());
    onboarding.status = [this] {
        return ui::Onboarding::Status{model->state(), controller->engineLoaded(), keysHeard,
                                      std::string(hotkey.key().shortName()), keyboard};
    };
    // The check talks to the sound server, which may hang: it runs on its own thread and the
    // window, refreshed every half second, shows the last answer.
    onboarding.microphone = [this] {
        if (!checkingMicrophone) {
            checkingMicrophone = true;
            checks.post([this, living = std::weak_ptr<int>(alive)] {
                const bool available = desktop.microphoneState() == platform::MicrophoneState::available;
                main.post([this, living, available] {
                    if (living.expired())
                        return;
                    checkingMicrophone = false;
                    microphone =
                        available ? ui::Onboarding::Microphone::ready : ui::Onboarding::Microphone::unavailable;
                });
            });
        }
        return microphone;
    };
    onboarding.onRetryDownload = [this] { model->download(); };
    onboarding.onAskAccessibility = [this] {
        if (!desktop.trust->ask())
            waitForTrust();
    };
    onboarding.onCopyCommand = [this](const std::string& command) {
        desktop.clipboard->writeText(platform::Selection::clipboard, command);
    };
    onboarding.onKeyChange = [this](int index) {
        const TriggerKey key = TriggerKey::allCases.at(static_cast<std::size_t>(index));
        TriggerKey::setSaved(settings, key);
        hotkey.setKey(key);
    };
}

bool AppDelegate::aiReady() {
    // An address the rule refuses is said at each dictation; a key would not mend it.
    return keychain.aiKey().has_value() || text::AiService::saved(settings).onThisMachine();
}

bool AppDelegate::requireKey() {
    if (!aiReady())
        ui::KeyDialog::editKey(keychain);
    return aiReady();
}

void AppDelegate::launch() {
    // The key store caches the key on its first read; reading it here, off the GUI thread, keeps a
    // slow secret service from delaying the first dictation's result.
    checks.post([this] { (void)keychain.aiKey(); });
    // Qt and Chromium programs expose their text fields (and so the character before the caret, which
    // decides the leading space) only when this switch was on as they started.
    checks.post([] {
        if (platform::lnx::ToolkitAccessibility::enabled() == false)
            platform::lnx::ToolkitAccessibility::setEnabled(true);
    });

    std::weak_ptr<DictationController> weak = controller;
    vocabularyWindow.onSave = [weak](const std::string& text) {
        if (auto dictation = weak.lock())
            dictation->dictionarySaved(text);
    };

    tray.onMenu = [this](QMenu& menu) { buildMenu(menu); };
    tray.show();

    hotkey.onPress = [weak] {
        if (auto dictation = weak.lock())
            dictation->pressed();
    };
    hotkey.onRelease = [weak] {
        if (auto dictation = weak.lock())
            dictation->released();
    };
    hotkey.onInterrupt = [weak] {
        if (auto dictation = weak.lock())
            dictation->cancel();
    };

    wireOnboarding();

    keysHeard = desktop.trust->isTrusted();
    keyboard = desktop.trust->access();
    if (keysHeard) {
        hotkeyStarted = true;
        hotkey.start();
    }
    waitForTrust();

    // No desktop asks the user for the microphone before the first recording, so a finished first
    // run needs nothing more here; an unfinished one shows the first-run window, and so does a key
    // that cannot be heard, which nothing else would tell.
    if (!onboarding.isDone() || !keysHeard)
        onboarding.show();

    model->onChange = [weak](const speech::ModelState& state) {
        if (auto dictation = weak.lock())
            dictation->modelStateChanged(state);
    };
    if (!model->isReady()) {
        // A folder the user brings is never downloaded into: download() only says what is missing.
        if (onboarding.isDone() && !dynamic_cast<speech::ModelFolder*>(model.get()))
            pill->flash("Скачиваю модель речи, 232 МБ. Один раз.", 4.0);
        model->download();
    } else {
        controller->loadEngine(false);
    }
    if (auto problem = ui::StatusMenu::keyboardProblem(keyboard))
        pill->flash(*problem, 4.0);
}

void AppDelegate::waitForTrust() {
    trustTimer.stop();
    trustTimer.start();
}

void AppDelegate::quit() {
    QApplication::quit();
}

void AppDelegate::buildMenu(QMenu& menu) {
    ui::StatusMenu::MenuState state;
    state.keyShort = std::string(hotkey.key().shortName());
    state.engineLoaded = controller->engineLoaded();
    state.engineError = controller->engineError();
    state.model = model->state();
    state.trusted = keysHeard = desktop.trust->isTrusted();
    state.access = keyboard = desktop.trust->access();
    state.hasKey = keychain.aiKey().has_value();
    state.aiReady = aiReady();
    state.preset = text::Preset::saved(settings);
    state.aiCleanup = controller->aiCleanup();
    state.dictionaryCount = controller->vocabulary().terms.size() + controller->vocabulary().replacements.size();
    state.history = controller->history();
    state.loginEnabled = platform::lnx::Autostart::isEnabled();

    ui::StatusMenu::MenuActions actions;
    actions.toggleAI = [this] {
        if (aiReady()) {
            settings.setBoolean("aiCleanup", !controller->aiCleanup());
            return;
        }
        // Without a key the switch asks for one first, and is then on.
        if (requireKey())
            settings.setBoolean("aiCleanup", true);
    };
    actions.chooseStyle = [this](const std::string& raw) {
        const auto style = text::styles::fromRawValue(raw);
        if (!style || (*style != text::Style::asSpoken && !requireKey()))
            return;
        text::styles::setSaved(settings, *style);
    };
    actions.toggleEnglish = [this] {
        const bool english = text::Preset::saved(settings).english;
        if (!english && !requireKey())
            return;
        text::Preset::saveEnglish(settings, !english);
    };
    actions.editKey = [this] { ui::KeyDialog::editKey(keychain); };
    actions.editService = [this] { ui::AiServiceDialog::editService(settings, polisher); };
    actions.openVocabulary = [this] { vocabularyWindow.show(); };
    actions.retryDownload = [this] { model->download(); };
    // Through the program's own clipboard, so that a restore still pending from a paste leaves it alone.
    actions.copyRecent = [this](const std::string& entry) {
        desktop.clipboard->writeText(platform::Selection::clipboard, entry);
    };
    actions.toggleLogin = [this] {
        try {
            platform::lnx::Autostart::setEnabled(!platform::lnx::Autostart::isEnabled());
        } catch (const std::exception& failure) {
            pill->flash(std::string("Не получилось: ") + failure.what(), 2.4);
        }
    };
    actions.openOnboarding = [this] { onboarding.show(); };
    actions.quit = [this] { quit(); };
    ui::StatusMenu::build(menu, state, actions);
}

} // namespace app
