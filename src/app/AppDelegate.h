#pragma once

#include "app/DictationController.h"
#include "app/Hotkey.h"
#include "app/Tray.h"
#include "core/Clock.h"
#include "core/Defaults.h"
#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "output/Inserter.h"
#include "platform/Desktop.h"
#include "speech/Model.h"
#include "text/Keychain.h"
#include "text/Polisher.h"
#include "ui/Onboarding.h"
#include "ui/Overlay.h"
#include "ui/VocabularyWindow.h"

#include <QTimer>

#include <filesystem>
#include <memory>

namespace app {

/// The tray application: owns every long-lived object (the desktop's services, the settings, the AI
/// key and polisher, the hotkey, the pill, the model, the windows, the tray item, the dictation
/// controller), wires their callbacks at launch and starts the keyboard monitor, the model download
/// or the engine load. Main thread only; create it after the QApplication and destroy it before.
class AppDelegate {
public:
    /// `main` must outlive the delegate. `desktop` comes from the backend factory (tests hand in
    /// fakes); `model` replaces the model that speech::makeModel() picks (tests use it to show each
    /// download state).
    AppDelegate(core::MainQueue& main, platform::Desktop desktop, std::unique_ptr<speech::Model> model = nullptr);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    /// Everything that happens once at start, in order.
    void launch();
    /// (Re)starts the 1.5 s poll of the keyboard permission, which runs for the whole run: the
    /// hotkey starts once the key can be heard, and a permission lost later is shown at once.
    void waitForTrust();
    /// Ends the program.
    void quit();

    /// The tray's menu, refilled each time it is about to show.
    QMenu& menu() { return tray.menu(); }
    ui::Onboarding& firstRunWindow() { return onboarding; }
    DictationController& dictation() { return *controller; }

private:
    /// Fills the tray menu as it opens.
    void buildMenu(QMenu& menu);
    /// Connects the first-run window's status, microphone and requests.
    void wireOnboarding();
    /// One look at the keyboard permission: starts the hotkey when it is first granted, and says in
    /// the pill when the key stops being heard (or the paste stops working).
    void pollTrust();
    /// Whether the AI features can run: a key is stored, or the service is on this machine.
    bool aiReady();
    /// Runs the key dialog unless the AI features can run; true when they can afterwards.
    bool requireKey();
    /// When RUVEX_VOICE_TEST_LOG names a file, appends `line` to it: end-to-end tests read from there
    /// what the pill showed and when the engine was loaded.
    void testLog(const std::string& line) const;

    core::MainQueue& main;
    core::SystemClock clock;
    const std::filesystem::path testLogFile;
    core::Defaults settings;
    platform::Desktop desktop;
    text::Keychain keychain;
    text::Polisher polisher;
    Hotkey hotkey;
    ui::Overlay overlay;
    std::unique_ptr<OverlayPort> pill;
    std::unique_ptr<speech::Model> model;
    output::Inserter inserter;
    ui::VocabularyWindow vocabularyWindow;
    ui::Onboarding onboarding;
    Tray tray;
    std::shared_ptr<DictationController> controller;
    QTimer trustTimer;
    /// What the last trust poll found; the first-run window and the pill word it. Main thread.
    bool keysHeard = false;
    platform::Access keyboard;
    bool hotkeyStarted = false;
    /// The last microphone check, and whether one runs on `checks`. Main thread.
    ui::Onboarding::Microphone microphone = ui::Onboarding::Microphone::ready;
    bool checkingMicrophone = false;
    std::shared_ptr<int> alive = std::make_shared<int>();
    /// Desktop services that may answer slowly (the key store, the sound server), kept off the GUI
    /// thread. Declared last so that it is joined first: its work reads the members above.
    core::SerialQueue checks{"ruvex.voice.checks"};
};

} // namespace app
