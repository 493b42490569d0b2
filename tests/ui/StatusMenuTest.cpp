#include "GuiTest.h"

#include "ui/StatusMenu.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ui::StatusMenu;

namespace {

/// The titles of a menu's items, "-" for separators, "[x]"/"[ ]" before checkable ones, "(off)" after
/// disabled ones.
std::vector<std::string> titles(const QMenu& menu) {
    std::vector<std::string> out;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            out.push_back("-");
            continue;
        }
        std::string title;
        if (action->isCheckable())
            title = action->isChecked() ? "[x] " : "[ ] ";
        title += action->text().toStdString();
        if (!action->isEnabled())
            title += " (off)";
        out.push_back(title);
    }
    return out;
}

QAction* find(const QMenu& menu, const QString& title) {
    for (QAction* action : menu.actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

QMenu* submenu(const QMenu& menu, const QString& prefix) {
    for (QAction* action : menu.actions()) {
        if (action->menu() && action->text().startsWith(prefix))
            return action->menu();
    }
    return nullptr;
}

class StatusMenuTest : public ::testing::Test {
protected:
    StatusMenuTest() {
        state.keyShort = "правый Alt";
        state.engineLoaded = true;
        state.model = speech::ModelStore::State::ready();
        actions.toggleAI = [this] { calls.push_back("toggleAI"); };
        actions.toggleEnglish = [this] { calls.push_back("toggleEnglish"); };
        actions.editKey = [this] { calls.push_back("editKey"); };
        actions.openVocabulary = [this] { calls.push_back("openVocabulary"); };
        actions.retryDownload = [this] { calls.push_back("retryDownload"); };
        actions.toggleLogin = [this] { calls.push_back("toggleLogin"); };
        actions.openOnboarding = [this] { calls.push_back("openOnboarding"); };
        actions.quit = [this] { calls.push_back("quit"); };
        actions.chooseStyle = [this](const std::string& raw) { calls.push_back("chooseStyle " + raw); };
        actions.copyRecent = [this](const std::string& entry) { calls.push_back("copyRecent " + entry); };
    }

    void build() { StatusMenu::build(menu, state, actions); }

    StatusMenu::MenuState state;
    StatusMenu::MenuActions actions;
    std::vector<std::string> calls;
    QMenu menu;
};

TEST_F(StatusMenuTest, WithoutAKeyEveryItemInOrder) {
    state.aiCleanup = true; // stored as true, but without a key it is shown off
    build();
    const std::vector<std::string> expected = {
        "Держите правый Alt и говорите (off)",
        "-",
        "Стиль: Как сказал",
        "[ ] Исправлять оговорки через ИИ (нужен ключ)",
        "Ключ ИИ…",
        "Словарь…",
        "Последние",
        "[ ] Запускать при входе",
        "-",
        "Настройка…",
        "-",
        "Выйти",
    };
    EXPECT_EQ(titles(menu), expected);

    QMenu* styles = submenu(menu, "Стиль: ");
    ASSERT_NE(styles, nullptr);
    const std::vector<std::string> expectedStyles = {
        "[x] Как сказал",
        "[ ] Естественный",
        "[ ] Деловой",
        "[ ] Дружеский",
        "-",
        "[ ] Переводить на английский",
        "Стили и перевод делает ИИ: нужен ключ (off)",
    };
    EXPECT_EQ(titles(*styles), expectedStyles);
    EXPECT_EQ(find(*styles, "Деловой")->data().toString(), "business");
    EXPECT_EQ(find(*styles, "Деловой")->toolTip().toStdString(), text::styles::hint(text::Style::business));
    EXPECT_EQ(find(*styles, "Переводить на английский")->toolTip(),
              "Для постов в X (Twitter): говорите по-русски, вставляется пост на английском в выбранном стиле.");
    EXPECT_EQ(find(menu, "Исправлять оговорки через ИИ (нужен ключ)")->toolTip(),
              "«до пятницы, нет, до четверга» → «до четверга». В DeepSeek уходит только фраза с оговоркой.");
    EXPECT_EQ(find(menu, "Выйти")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* recent = submenu(menu, "Последние");
    ASSERT_NE(recent, nullptr);
    EXPECT_EQ(titles(*recent), std::vector<std::string>{"Пока пусто (off)"});

    // Each item reaches its action.
    for (const char* title : {"Исправлять оговорки через ИИ (нужен ключ)", "Ключ ИИ…", "Словарь…",
                              "Запускать при входе", "Настройка…", "Выйти"})
        find(menu, title)->trigger();
    find(*styles, "Естественный")->trigger();
    find(*styles, "Переводить на английский")->trigger();
    const std::vector<std::string> expectedCalls = {
        "toggleAI",       "editKey", "openVocabulary",      "toggleLogin",
        "openOnboarding", "quit",    "chooseStyle natural", "toggleEnglish"};
    EXPECT_EQ(calls, expectedCalls);
}

TEST_F(StatusMenuTest, WithAKeyAndSettings) {
    state.hasKey = true;
    state.aiCleanup = true;
    state.preset = {text::Style::business, true};
    state.dictionaryCount = 3; // 2 terms + 1 replacement
    state.loginEnabled = true;
    build();
    EXPECT_NE(find(menu, "Стиль: Деловой, на английском"), nullptr);
    EXPECT_NE(find(menu, "Ключ ИИ задан…"), nullptr);
    EXPECT_NE(find(menu, "Словарь (3)…"), nullptr);
    const auto all = titles(menu);
    EXPECT_NE(std::find(all.begin(), all.end(), "[x] Исправлять оговорки через ИИ"), all.end());
    EXPECT_NE(std::find(all.begin(), all.end(), "[x] Запускать при входе"), all.end());
    QMenu* styles = submenu(menu, "Стиль: ");
    const std::vector<std::string> expectedStyles = {
        "[ ] Как сказал", "[ ] Естественный", "[x] Деловой", "[ ] Дружеский", "-", "[x] Переводить на английский",
    };
    EXPECT_EQ(titles(*styles), expectedStyles);

    state.aiCleanup = false;
    build();
    EXPECT_TRUE(find(menu, "Исправлять оговорки через ИИ")->isCheckable());
    EXPECT_FALSE(find(menu, "Исправлять оговорки через ИИ")->isChecked());
    EXPECT_EQ(menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 4)
        << "the last build's submenus are only scheduled for deletion";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 2);
}

TEST_F(StatusMenuTest, ModelAndPermissionLines) {
    state.engineLoaded = false;
    state.model = speech::ModelStore::State::downloading(0.427);
    state.trusted = false;
    build();
    auto all = titles(menu);
    ASSERT_GE(all.size(), 4u);
    EXPECT_EQ(all[1], "Модель речи скачивается: 42% (off)");
    EXPECT_EQ(all[2], "Разрешить доступ к клавиатуре…");
    EXPECT_EQ(all[3], "-");
    find(menu, "Разрешить доступ к клавиатуре…")->trigger();

    state.trusted = true;
    state.model = speech::ModelStore::State::downloading(0.999);
    build();
    EXPECT_EQ(titles(menu)[1], "Модель речи скачивается: 99% (off)");

    state.model = speech::ModelStore::State::failed("нет соединения с сервером");
    build();
    all = titles(menu);
    EXPECT_EQ(all[1], "Модель речи не скачалась: нет соединения с сервером (off)");
    EXPECT_EQ(all[2], "Скачать еще раз");
    EXPECT_EQ(all[3], "-");
    find(menu, "Скачать еще раз")->trigger();

    state.model = speech::ModelStore::State::ready();
    build();
    EXPECT_EQ(titles(menu)[1], "Модель речи загружается… (off)");
    state.engineError = "Модель речи не загрузилась";
    build();
    EXPECT_EQ(titles(menu)[1], "Модель речи не загрузилась (off)");
    state.model = speech::ModelStore::State::missing();
    build();
    EXPECT_EQ(titles(menu)[1], "Модель речи не загрузилась (off)");

    state.engineLoaded = true;
    build();
    EXPECT_EQ(titles(menu)[1], "-") << "no status line once the engine is loaded";
    EXPECT_EQ(calls, (std::vector<std::string>{"openOnboarding", "retryDownload"}));
}

TEST_F(StatusMenuTest, RecentEntriesAreFoldedAndCutButCopiedWhole) {
    std::string longEntry = std::string(40, 'a') + "\n" + std::string(59, 'b'); // 100 characters
    ASSERT_EQ(longEntry.size(), 100u);
    state.history = {longEntry, "Привет,\r\n\r\nмир\u2028и\u0085все", "👩‍👩‍👧‍👦 семья"};
    build();
    QMenu* recent = submenu(menu, "Последние");
    ASSERT_NE(recent, nullptr);
    const auto items = recent->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text().toStdString(), std::string(40, 'a') + " " + std::string(19, 'b') + "…");
    EXPECT_EQ(items[0]->toolTip(), "Скопировать");
    EXPECT_EQ(items[0]->data().toString().toStdString(), longEntry);
    EXPECT_EQ(items[1]->text(), "Привет, мир и все");
    EXPECT_EQ(items[2]->text(), "👩‍👩‍👧‍👦 семья");
    items[0]->trigger();
    EXPECT_EQ(calls, std::vector<std::string>{"copyRecent " + longEntry});

    // Exactly 60 is kept; graphemes count as one each.
    EXPECT_EQ(StatusMenu::recentTitle(std::string(60, 'x')).toStdString(), std::string(60, 'x'));
    std::string accents;
    for (int i = 0; i < 61; ++i)
        accents += "e\u0301";
    std::string expected;
    for (int i = 0; i < 60; ++i)
        expected += "e\u0301";
    EXPECT_EQ(StatusMenu::recentTitle(accents).toStdString(), expected + "…");
    EXPECT_EQ(StatusMenu::recentTitle("\n\n").toStdString(), "");
    std::string families;
    for (int i = 0; i < 61; ++i)
        families += "👩‍👩‍👧‍👦";
    const QString cut = StatusMenu::recentTitle(families);
    EXPECT_TRUE(cut.endsWith("…"));
    EXPECT_EQ(cut.chopped(1).toStdString().size(), families.size() / 61 * 60) << "60 whole emoji sequences";
}

TEST_F(StatusMenuTest, Screenshot) {
    state.hasKey = true;
    state.engineLoaded = false;
    state.model = speech::ModelStore::State::downloading(0.427);
    state.dictionaryCount = 3;
    state.history = {"Привет, это проверка."};
    build();
    menu.popup(QPoint(10, 10));
    ASSERT_TRUE(guitest::processUntil([&] { return menu.isVisible(); }));
    guitest::screenshot(menu, "status-menu");
    QMenu* styles = submenu(menu, "Стиль: ");
    styles->popup(QPoint(200, 60));
    ASSERT_TRUE(guitest::processUntil([&] { return styles->isVisible(); }));
    guitest::screenshot(*styles, "status-menu-styles");
    styles->hide();
    menu.hide();
}

} // namespace
