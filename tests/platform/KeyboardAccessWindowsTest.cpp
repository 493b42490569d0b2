// What the first-run window and the tray menu tell the user about keyboard access.
#include "../ui/GuiTest.h"
#include "support/TempDir.h"
#include "ui/Onboarding.h"
#include "ui/StatusMenu.h"

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

using platform::Access;
using platform::KeyAccess;
using platform::PasteAccess;

namespace {

std::string firstLines(QMenu& menu, int count) {
    std::string text;
    for (QAction* action : menu.actions()) {
        if (count-- == 0)
            break;
        text += action->text().toStdString() + "\n";
    }
    return text;
}

} // namespace

TEST(KeyboardAccessWindows, TheKeyboardRowWordsEveryStateAndCopiesTheCommand) {
    guitest::app();
    testsupport::TempDir dir;
    core::Defaults settings(dir / "settings.json");
    ui::Onboarding window(settings);
    ui::Onboarding::Status snapshot;
    window.status = [&] { return snapshot; };
    std::vector<std::string> copied;
    window.onCopyCommand = [&](const std::string& command) { copied.push_back(command); };
    auto detail = [&] { return window.row("keys").detail->text().toStdString(); };
    auto button = [&] { return window.row("keys").button; };

    snapshot.access = Access{KeyAccess::denied, PasteAccess::ready, "sudo usermod -aG input anna"};
    window.show();
    EXPECT_EQ(detail(), "Чтобы слышать клавишу, программе нужно читать клавиатуру. Выполните в терминале и войдите "
                        "в сеанс заново:\nsudo usermod -aG input anna\nТак любая ваша программа сможет читать и "
                        "вводить нажатия клавиш.");
    EXPECT_EQ(window.row("keys").symbol, "circle");
    ASSERT_FALSE(button()->isHidden());
    EXPECT_EQ(button()->text(), "Скопировать команду");
    guitest::screenshot(*window.window(), "onboarding-keyboard-denied");
    button()->click();
    EXPECT_EQ(copied, std::vector<std::string>{"sudo usermod -aG input anna"});

    snapshot.access = Access{KeyAccess::relogin, PasteAccess::ready, ""};
    window.refresh();
    EXPECT_EQ(detail(), "Вы уже в группе input — выйдите из сеанса и войдите снова.");
    EXPECT_TRUE(button()->isHidden());

    snapshot.access = Access{KeyAccess::noDevices, PasteAccess::ready, ""};
    window.refresh();
    EXPECT_EQ(detail(), "Клавиатура не видна системе: программа не услышит клавишу.");
    EXPECT_TRUE(button()->isHidden());

    // Heard, but nothing can paste: not done, and it says where the text goes.
    snapshot.trusted = true;
    snapshot.access = Access{KeyAccess::ready, PasteAccess::unavailable, ""};
    window.refresh();
    EXPECT_EQ(window.row("keys").symbol, "circle");
    EXPECT_EQ(detail(), "Клавиша слышна, но вставлять текст нечем: он останется в буфере обмена, вставьте его сами "
                        "(Ctrl+V).");
    EXPECT_TRUE(button()->isHidden());

    snapshot.access = Access{KeyAccess::ready, PasteAccess::askFirst, ""};
    window.refresh();
    EXPECT_EQ(window.row("keys").symbol, "checkmark.circle.fill");
    EXPECT_EQ(detail(), "Включен: Ruvex Voice замечает клавишу. При первой вставке система спросит, можно ли "
                        "вводить текст.");
    EXPECT_TRUE(button()->isHidden());
}

TEST(KeyboardAccessWindows, TheTrayHeaderSaysWhyTheKeyIsNotHeard) {
    guitest::app();
    QMenu menu;
    ui::StatusMenu::MenuState state;
    state.keyShort = "правый Alt";
    state.engineLoaded = true;
    state.trusted = false;
    state.access = Access{KeyAccess::denied, PasteAccess::ready, "sudo usermod -aG input anna"};
    ui::StatusMenu::build(menu, state, {});
    EXPECT_EQ(firstLines(menu, 2), "Клавиша не слышна: нет доступа к клавиатуре\nРазрешить доступ к клавиатуре…\n");

    state.access.keys = KeyAccess::relogin;
    ui::StatusMenu::build(menu, state, {});
    EXPECT_EQ(firstLines(menu, 1), "Клавиша не слышна: войдите в сеанс заново\n");

    state.trusted = true;
    state.access = Access{KeyAccess::ready, PasteAccess::unavailable, ""};
    ui::StatusMenu::build(menu, state, {});
    EXPECT_EQ(firstLines(menu, 2), "Держите правый Alt и говорите\nВставлять нечем: текст останется в буфере обмена\n");

    // X11: nothing to say.
    state.access = Access{};
    ui::StatusMenu::build(menu, state, {});
    EXPECT_EQ(ui::StatusMenu::keyboardProblem(state.access), std::nullopt);
    EXPECT_EQ(firstLines(menu, 1), "Держите правый Alt и говорите\n");
}
