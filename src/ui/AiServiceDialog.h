#pragma once

#include <functional>
#include <vector>

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace core {
class Defaults;
}
namespace text {
class Polisher;
}

namespace ui {

/// The small modal dialog that chooses where the AI step sends its text: DeepSeek's cloud or the
/// user's own server (address and model name), with a check that asks the server once. Main thread
/// only; nothing is kept after it closes.
class AiServiceDialog {
public:
    enum class Button { save, cancel };

    /// What a chooser sees of the open dialog.
    struct Form {
        QDialog* dialog = nullptr;
        QRadioButton* deepSeek = nullptr;
        QRadioButton* ownServer = nullptr;
        QLineEdit* url = nullptr;
        QLineEdit* model = nullptr;
        QLabel* status = nullptr;          ///< what the check or a refused save said
        std::vector<QPushButton*> buttons; ///< in order: "Сохранить", "Отмена", "Проверить"
    };

    /// When set, editService shows the dialog without running it modally and asks this which button
    /// the user pressed (after it has filled the form or pressed "Проверить", if it likes); it is asked
    /// again while a save is refused. For tests.
    static std::function<Button(Form&)> chooser;

    /// Shows the service stored in `settings`, waits for a button and updates the settings:
    /// "Сохранить" stores the choice unless the address or model is missing or the address is refused
    /// (the dialog says why and stays open), "Отмена" changes nothing. "Проверить" sends one tiny
    /// request through `polisher`, off the main thread, and says whether the server answered.
    static void editService(core::Defaults& settings, text::Polisher& polisher, QWidget* parent = nullptr);
};

} // namespace ui
