// What the first-run window and the tray menu tell the user when the keyboard cannot be read.
#include "../ui/GuiTest.h"
#include "support/TempDir.h"
#include "ui/Onboarding.h"
#include "ui/StatusMenu.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

using platform::Access;
using platform::KeyAccess;
using platform::PasteAccess;

TEST(KeyboardAccessWindows, TheKeyboardRowGivesTheCommandToCopyAndTheTrayHeaderSaysWhy) {
    guitest::app();
    testsupport::TempDir dir;
    core::Defaults settings(dir / "settings.json");
    ui::Onboarding window(settings);
    ui::Onboarding::Status snapshot;
    snapshot.access = Access{KeyAccess::denied, PasteAccess::ready, "sudo usermod -aG input anna"};
    window.status = [&] { return snapshot; };
    std::vector<std::string> copied;
    window.onCopyCommand = [&](const std::string& command) { copied.push_back(command); };
    window.show();
    const auto& keys = window.row("keys");
    EXPECT_EQ(keys.detail->text().toStdString(),
              "Чтобы слышать клавишу, программе нужно читать клавиатуру. Выполните в терминале и войдите в сеанс "
              "заново:\nsudo usermod -aG input anna\nТак любая ваша программа сможет читать и вводить нажатия клавиш.");
    guitest::screenshot(*window.window(), "onboarding-keyboard-denied");
    ASSERT_EQ(keys.button->text(), "Скопировать команду");
    keys.button->click();
    EXPECT_EQ(copied, std::vector<std::string>{"sudo usermod -aG input anna"});

    // Heard, but nothing can paste: not done, and no button that could not help.
    snapshot.trusted = true;
    snapshot.access = Access{KeyAccess::ready, PasteAccess::unavailable, ""};
    window.refresh();
    EXPECT_EQ(keys.symbol, "circle");
    EXPECT_TRUE(keys.button->isHidden());

    QMenu menu;
    ui::StatusMenu::MenuState state;
    state.keyShort = "правый Alt";
    state.engineLoaded = true;
    state.trusted = false;
    state.access = Access{KeyAccess::relogin, PasteAccess::ready, ""};
    ui::StatusMenu::build(menu, state, {});
    EXPECT_EQ(menu.actions().at(0)->text(), "Клавиша не слышна: войдите в сеанс заново");
    EXPECT_EQ(menu.actions().at(1)->text(), "Разрешить доступ к клавиатуре…");
    // X11 (always ready): the usual header.
    state.trusted = true;
    state.access = Access{};
    ui::StatusMenu::build(menu, state, {});
    EXPECT_EQ(menu.actions().at(0)->text(), "Держите правый Alt и говорите");
}
