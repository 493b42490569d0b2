#pragma once

#include "app/DictationController.h"
#include "app/Hotkey.h"
#include "app/Tray.h"
#include "core/Clock.h"
#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "platform/Trust.h"
#include "platform/x11/X11Trust.h"
#include "ui/Onboarding.h"
#include "ui/Overlay.h"
#include "ui/VocabularyWindow.h"

#include <QTimer>

#include <memory>

namespace app {

class OverlayAdapter;
class Output;

/// The tray application: owns every long-lived object (the hotkey, the pill, the model, the windows,
/// the tray item, the dictation controller), wires their callbacks at launch and starts the
/// keyboard monitor, the model download or the engine load. Main thread only; create it after the
/// QApplication and destroy it before.
class AppDelegate {
public:
    /// `main` must outlive the delegate. `trust` tells whether the desktop lets the program watch and
    /// send keys; on X11 it always does. `models` replaces the model store that makeModels() picks (tests
    /// use it to show the menu in each download state).
    explicit AppDelegate(core::MainQueue& main,
                         std::unique_ptr<platform::Trust> trust = std::make_unique<platform::x11::X11Trust>(),
                         std::unique_ptr<ModelPort> models = nullptr);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    /// Everything that happens once at start, in order.
    void launch();
    /// (Re)starts the 1.5 s poll for the keyboard permission.
    void waitForTrust();
    /// Ends the program.
    void quit();

    DictationController& dictation() { return *controller; }

private:
    /// Fills the tray menu as it opens.
    void buildMenu(QMenu& menu);
    /// Connects the first-run window's status, microphone and requests.
    void wireOnboarding();
    /// Runs the key dialog when no AI key is stored; true when a key exists afterwards.
    static bool requireKey();

    core::MainQueue& main;
    core::SystemClock clock;
    std::unique_ptr<platform::Trust> trust;
    Hotkey hotkey;
    ui::Overlay overlay;
    std::unique_ptr<OverlayAdapter> overlayPort;
    std::unique_ptr<ModelPort> models;
    ui::VocabularyWindow vocabularyWindow;
    ui::Onboarding onboarding;
    Tray tray;
    std::unique_ptr<Output> output;
    std::shared_ptr<DictationController> controller;
    QTimer trustTimer;
    /// The last microphone check, and whether one runs on `checks`. Main thread.
    ui::Onboarding::Microphone microphone = ui::Onboarding::Microphone::ready;
    bool checkingMicrophone = false;
    std::shared_ptr<int> alive = std::make_shared<int>();
    // Declared last so that they are joined first: their work reads the model store and posts to `main`.
    /// The engine load.
    core::SerialQueue loading{"ruvex.voice.load"};
    /// Desktop services that may answer slowly (the key store, the sound server), kept off the GUI
    /// thread and out of the engine load's way.
    core::SerialQueue checks{"ruvex.voice.checks"};
};

} // namespace app
