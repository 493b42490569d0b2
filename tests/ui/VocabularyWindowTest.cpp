#include "GuiTest.h"

#include "support/TempDir.h"
#include "text/Vocabulary.h"
#include "ui/VocabularyWindow.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

/// A key pressed in the window that holds `widget`, the way the window system delivers it (so that
/// shortcuts see it).
void press(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(widget->window()->windowHandle(), key, modifiers);
}

class VocabularyWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        guitest::app();
        testsupport::writeFile(text::Vocabulary::file(), fileText);
        editor.onSave = [this](const std::string& text) { saved.push_back(text); };
    }

    QAction* editAction(const QString& title) {
        const auto bars = editor.window()->findChildren<QMenuBar*>();
        if (bars.size() != 1)
            return nullptr;
        const auto menus = bars.front()->findChildren<QMenu*>();
        for (QMenu* menu : menus) {
            if (menu->title() != QStringLiteral("Правка"))
                continue;
            for (QAction* action : menu->actions()) {
                if (action->text() == title)
                    return action;
            }
        }
        return nullptr;
    }

    testsupport::IsolatedHome home;
    const std::string fileText = "Kubernetes\nкубер нетис -> Kubernetes\n";
    ui::VocabularyWindow editor;
    std::vector<std::string> saved;
};

TEST_F(VocabularyWindowTest, ShowsTheFileAndSavesTheWholeTextOnce) {
    EXPECT_EQ(editor.window(), nullptr) << "built on first show";
    editor.show();
    QWidget* window = editor.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Словарь Ruvex Voice"));
    EXPECT_EQ(window->minimumSize(), QSize(420, 300));
    EXPECT_GE(editor.textView()->minimumHeight(), 200);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(editor.textView()->toPlainText().toStdString(), fileText);
    ASSERT_TRUE(guitest::processUntil([&] { return editor.textView()->hasFocus(); }));

    // Quotes, dashes and a non-breaking space stay exactly as typed.
    QTest::keyClick(editor.textView(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(editor.textView(), QString::fromUtf8("\"Qt\" -- it's\u00a0ok -> OK"));
    press(editor.textView(), Qt::Key_S, Qt::ControlModifier);
    // A button's shortcut shows the button pressed for a moment before it acts.
    ASSERT_TRUE(guitest::processUntil([&] { return !window->isVisible(); }));
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0], fileText + "\"Qt\" -- it's\u00a0ok -> OK");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(editor.window(), window) << "kept for the next show";

    // Unsaved edits are gone at the next show: the file's text is loaded again.
    editor.show();
    EXPECT_EQ(editor.textView()->toPlainText().toStdString(), fileText);
    QTest::keyClicks(editor.textView(), "lost");
    press(editor.textView(), Qt::Key_Escape);
    EXPECT_TRUE(guitest::processUntil([&] { return !window->isVisible(); }));
    EXPECT_EQ(saved.size(), 1u) << "Escape closes without saving";

    editor.show();
    editor.cancelButton()->click();
    EXPECT_FALSE(window->isVisible());
    editor.show();
    window->close(); // the title bar's close button
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(saved.size(), 1u);

    // Without a handler the save button still hides the window.
    editor.onSave = nullptr;
    editor.show();
    editor.saveButton()->click();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(VocabularyWindowTest, EditMenuWorksOnTheText) {
    editor.show();
    QPlainTextEdit* view = editor.textView();
    ASSERT_TRUE(guitest::processUntil([&] { return view->hasFocus(); }));
    QAction* selectAll = editAction(QStringLiteral("Выделить все"));
    QAction* cut = editAction(QStringLiteral("Вырезать"));
    QAction* copy = editAction(QStringLiteral("Скопировать"));
    QAction* paste = editAction(QStringLiteral("Вставить"));
    QAction* undo = editAction(QStringLiteral("Отменить"));
    QAction* redo = editAction(QStringLiteral("Повторить"));
    ASSERT_TRUE(selectAll && cut && copy && paste && undo && redo);
    EXPECT_EQ(undo->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    EXPECT_EQ(redo->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    EXPECT_EQ(selectAll->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));

    selectAll->trigger();
    EXPECT_EQ(view->textCursor().selectedText().size(), view->toPlainText().size());
    copy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), fileText);
    cut->trigger();
    EXPECT_TRUE(view->toPlainText().isEmpty());
    undo->trigger();
    EXPECT_EQ(view->toPlainText().toStdString(), fileText);
    redo->trigger();
    EXPECT_TRUE(view->toPlainText().isEmpty());
    paste->trigger();
    paste->trigger();
    EXPECT_EQ(view->toPlainText().toStdString(), fileText + fileText);

    // The same through the keyboard.
    press(view, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(view->toPlainText().toStdString(), fileText);
    press(view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view->toPlainText().toStdString(), fileText + fileText);
}

TEST_F(VocabularyWindowTest, Screenshot) {
    editor.show();
    guitest::processUntil([&] { return editor.textView()->hasFocus(); });
    guitest::screenshot(*editor.window(), "vocabulary-editor");
}

} // namespace
