#pragma once

#include <functional>
#include <vector>

class QDialog;
class QLineEdit;
class QPushButton;
class QWidget;

namespace text {
class Keychain;
}

namespace ui {

/// The small modal dialog where the DeepSeek key is entered, replaced, removed, or taken over from the
/// developer configuration that the key store knows. Main thread only; nothing is kept after it closes.
class KeyDialog {
public:
    /// The dialog's buttons; `ruvex` exists only when a key was found outside the program's storage.
    enum class Button { save, cancel, ruvex };

    /// What a chooser sees of the open dialog.
    struct Form {
        QDialog* dialog = nullptr;
        QLineEdit* field = nullptr;
        std::vector<QPushButton*> buttons; ///< in order: "Сохранить", "Отмена", then "Взять из Ruvex" if any
    };

    /// When set, editKey shows the dialog without running it modally and asks this which button the user
    /// pressed (after it has typed into the field, if it likes). For tests.
    static std::function<Button(Form&)> chooser;

    /// Shows the dialog with the stored key (as bullets), waits for a button and updates the key store:
    /// "Сохранить" stores the field's text (trimmed; empty removes the key), "Взять из Ruvex" stores the
    /// found key, "Отмена" changes nothing. Callers read the key store afterwards.
    static void editKey(text::Keychain& keychain, QWidget* parent = nullptr);
};

} // namespace ui
