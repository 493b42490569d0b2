#pragma once

#include <functional>
#include <memory>
#include <string>

class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace ui {

/// The plain-text editor of the dictionary file. It loads the file's text each time it is shown and
/// hands the edited text to `onSave`; it neither parses nor writes the file itself. Main thread only;
/// the window is built on the first show and kept.
class VocabularyWindow {
public:
    VocabularyWindow();
    ~VocabularyWindow();
    VocabularyWindow(const VocabularyWindow&) = delete;
    VocabularyWindow& operator=(const VocabularyWindow&) = delete;

    /// Called once with the whole text when the user saves; the window hides afterwards either way.
    std::function<void(const std::string&)> onSave;

    /// Builds the window if needed, replaces its text with the dictionary file's current text, brings it
    /// to the front and puts the cursor in the text.
    void show();

    /// The save button's work: `onSave` with the whole text, then hide.
    void saveAndClose();
    /// The cancel button's work: hide without saving.
    void close();

    /// For tests; empty until the first show.
    QWidget* window() const { return frame.get(); }
    QPlainTextEdit* textView() const { return editor; }
    QPushButton* saveButton() const { return save; }
    QPushButton* cancelButton() const { return cancel; }

private:
    void build();

    std::unique_ptr<QWidget> frame;
    QPlainTextEdit* editor = nullptr;
    QPushButton* save = nullptr;
    QPushButton* cancel = nullptr;
};

} // namespace ui
