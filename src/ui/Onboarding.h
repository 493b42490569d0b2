#pragma once

#include "core/Defaults.h"
#include "platform/Trust.h"
#include "speech/Model.h"

#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QHBoxLayout;
class QLayout;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace ui {

class OnboardingFrame;

/// The first-run window: a checklist with live marks of what dictation needs (the speech model on disk
/// and loaded, the microphone, keyboard access), the trigger-key chooser, a field to try dictating in,
/// and "Готово". It reads the program's state through `status` and `microphone` every half second and
/// reports requests through its callbacks. Main thread only; the window is built on the first show.
class Onboarding {
public:
    /// A snapshot of what the checklist shows.
    struct Status {
        speech::ModelState model = speech::ModelState::missing();
        bool engineReady = false;
        bool trusted = false;
        /// The trigger key as named inside sentences ("правый Alt").
        std::string keyName = "правый Alt";
        /// Why the key cannot be heard or the text not pasted, where the desktop needs a permission.
        platform::Access access;
    };

    /// Whether recording can work: ready; never asked (desktops that ask the user first); or unavailable
    /// (no usable microphone, or access refused).
    enum class Microphone { ready, notAsked, unavailable };

    /// One checklist line; exposed for tests.
    struct Row {
        QLabel* mark = nullptr;
        QLabel* detail = nullptr;
        QPushButton* button = nullptr;
        QHBoxLayout* view = nullptr;
        QString symbol; ///< the mark shown: "checkmark.circle.fill", "arrow.down.circle" or "circle"

        /// Sets the mark and shows the button unless done.
        void set(bool done, bool busy);
    };

    /// `settings` keeps "onboardingDone"; it must outlive the window.
    explicit Onboarding(core::Defaults& settings);
    ~Onboarding();
    Onboarding(const Onboarding&) = delete;
    Onboarding& operator=(const Onboarding&) = delete;

    std::function<Status()> status = [] { return Status{}; };
    std::function<Microphone()> microphone = [] { return Microphone::unavailable; };
    std::function<void()> onRetryDownload;
    std::function<void()> onAskAccessibility;
    /// The keyboard row's "Скопировать команду": puts the command that grants keyboard access on the
    /// clipboard. Unset: Qt's clipboard.
    std::function<void(const std::string& command)> onCopyCommand;
    /// The microphone row's "Разрешить", on desktops that ask the user for access.
    std::function<void()> onAskMicrophone;
    /// The trigger keys the chooser offers, by title, and the index of the chosen one; set before the
    /// first show.
    std::vector<std::string> keyTitles;
    int chosenKey = 0;
    /// The user chose the key at this index of `keyTitles`.
    std::function<void(int index)> onKeyChange;
    std::function<void()> onFinish;

    /// The program that opens the desktop's sound settings, with its arguments; found on the PATH at the
    /// first show (pavucontrol, GNOME's or KDE's settings), none when no such program is known.
    std::optional<QStringList> soundSettings;

    /// Builds the window if needed, refreshes it, brings it to the front and (re)starts the refresh.
    void show();
    /// Reads a snapshot and updates the rows and the hint.
    void refresh();

    /// "onboardingDone" in the settings; false when absent.
    bool isDone() const;
    void setDone(bool done);

    /// For tests; empty until the first show.
    QWidget* window() const;
    const Row& row(const std::string& key) const { return rows.at(key); }
    QComboBox* keyPopup() const { return popup; }
    QPlainTextEdit* tryView() const { return tryArea; }
    QLabel* tryHint() const { return hint; }
    QPushButton* finishButton() const { return done; }
    bool refreshing() const { return timer.isActive(); }

    /// Found on the PATH: pavucontrol, gnome-control-center sound, or KDE's audio settings.
    static std::optional<QStringList> findSoundSettings();

private:
    friend class OnboardingFrame;

    void build();
    void fitHeight();
    QLayout* buildKeySection();
    void retryDownload();
    void askMicrophone();
    void askAccessibility();
    void keyChanged(int index);
    void finish();
    void windowWillClose();
    void textDidChange();
    bool tryHoldsText() const;
    void refreshKeys(const Status& snapshot);

    /// The keyboard access of the last refresh, for the keyboard row's button.
    platform::Access keyAccess;

    core::Defaults& settings;
    std::unique_ptr<OnboardingFrame> frame;
    QTimer timer;
    std::map<std::string, Row> rows;
    QComboBox* popup = nullptr;
    QPlainTextEdit* tryArea = nullptr;
    QLabel* hint = nullptr;
    QPushButton* done = nullptr;
};

} // namespace ui
