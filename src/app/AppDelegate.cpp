#include "app/AppDelegate.h"

#include "app/Adapters.h"
#include "app/ModelFolder.h"
#include "app/Output.h"
#include "core/Defaults.h"
#include "platform/AudioSource.h"
#include "platform/linux/PulseAudioSource.h"
#include "platform/linux/ToolkitAccessibility.h"
#include "platform/x11/XInputKeyMonitor.h"
#include "speech/Recorder.h"
#include "text/Keychain.h"
#include "text/Polisher.h"
#include "ui/KeyDialog.h"

#include <QApplication>

#include <cstdlib>

namespace app {

AppDelegate::AppDelegate(core::MainQueue& main, std::unique_ptr<platform::Trust> keyboardTrust,
                         std::unique_ptr<ModelPort> modelStore)
    : main(main), trust(std::move(keyboardTrust)), hotkey(std::make_unique<platform::x11::XInputKeyMonitor>(main)),
      overlayPort(std::make_unique<OverlayAdapter>(overlay)),
      models(modelStore ? std::move(modelStore) : makeModels(main)), output(std::make_unique<Output>(main)) {
    DictationServices services;
    services.overlay = overlayPort.get();
    services.models = models.get();
    services.setGlyph = [this](bool recording) { tray.setRecording(recording); };
    services.makeRecorder = [this]() -> std::unique_ptr<RecorderPort> {
        return std::make_unique<RecorderAdapter>(
            std::make_unique<speech::Recorder>(this->main, std::make_unique<platform::lnx::PulseAudioSource>()));
    };
    services.polish = [queue = &main](std::string text, text::Preset preset, bool useAI, text::Vocabulary vocabulary,
                                      PolishCompletion completion) {
        text::Polisher::polish(*queue, text, preset, useAI, vocabulary, std::move(completion));
    };
    services.rewriteTimeout = text::Polisher::rewriteTimeout;
    services.insert = [this](const std::string& text) { output->insert(text); };
    services.hasAIKey = [] { return text::Keychain::aiKey().has_value(); };
    services.savedPreset = [] { return text::Preset::saved(); };
    services.buildEngine = &buildEngine;
    services.background = [this](std::function<void()> work) { loading.post(std::move(work)); };
    controller = DictationController::make(main, clock, core::Defaults::standard(), std::move(services));
    controller->onEngineLoaded = [this](bool loaded) {
        testLog(loaded ? "engine loaded" : "engine failed: " + controller->engineError.value_or(""));
    };

    trustTimer.setInterval(1500);
    QObject::connect(&trustTimer, &QTimer::timeout, [this] {
        if (!trust->isTrusted())
            return;
        trustTimer.stop();
        hotkey.start();
        overlayPort->flash("Готово: держите " + std::string(TriggerKey::saved().shortName()) + " и говорите", 3.5);
    });
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::wireOnboarding() {
    onboarding.status = [this] {
        return ui::Onboarding::Status{storeState(models->state()), controller->engine != nullptr, trust->isTrusted()};
    };
    // The check talks to the sound server, which may hang: it runs on its own thread and the
    // window, refreshed every half second, shows the last answer.
    onboarding.microphone = [this] {
        if (!checkingMicrophone) {
            checkingMicrophone = true;
            std::weak_ptr<int> living = alive;
            checks.post([this, living] {
                const bool available =
                    platform::lnx::PulseAudioSource::microphoneState() == platform::MicrophoneState::available;
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
    onboarding.onRetryDownload = [this] { models->download(); };
    onboarding.onAskAccessibility = [this] {
        if (!trust->ask())
            waitForTrust();
    };
    onboarding.onKeyChange = [this](TriggerKey key) { hotkey.setKey(key); };
}

bool AppDelegate::requireKey() {
    if (!text::Keychain::aiKey())
        ui::KeyDialog::editKey();
    return text::Keychain::aiKey().has_value();
}

void AppDelegate::launch() {
    // The edit-only menu belongs to each window on Linux; the windows install their own.
    // The key store caches the key on its first read; reading it here, off the GUI thread, keeps a
    // slow secret service from delaying the first dictation's result.
    checks.post([] { (void)text::Keychain::aiKey(); });
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

    if (trust->isTrusted())
        hotkey.start();
    else
        waitForTrust();

    // No desktop asks the user for the microphone before the first recording, so a finished first
    // run needs nothing more here; an unfinished one shows the first-run window.
    if (!ui::Onboarding::isDone())
        onboarding.show();

    models->onChange = [weak](const ModelStatus& state) {
        if (auto dictation = weak.lock())
            dictation->modelStateChanged(state);
    };
    if (!models->isReady()) {
        // A folder the user brings is never downloaded into: download() only says what is missing.
        const char* ownFolder = std::getenv(ModelFolder::variable);
        if (ui::Onboarding::isDone() && !(ownFolder && *ownFolder))
            overlayPort->flash("Скачиваю модель речи, 232 МБ. Один раз.", 4.0);
        models->download();
    } else {
        controller->loadEngine(false);
    }
}

void AppDelegate::waitForTrust() {
    trustTimer.stop();
    trustTimer.start();
}

void AppDelegate::quit() {
    QApplication::quit();
}

} // namespace app
