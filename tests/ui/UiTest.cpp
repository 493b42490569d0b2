// The windows, the menu and the pill on Qt's offscreen platform.
#include "fakes/MemorySecretStore.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "text/Keychain.h"
#include "text/Vocabulary.h"
#include "ui/KeyDialog.h"
#include "ui/Onboarding.h"
#include "ui/Overlay.h"
#include "ui/PillView.h"
#include "ui/StatusMenu.h"
#include "ui/VocabularyWindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

using State = speech::ModelState;

bool processUntil(const std::function<bool()>& done, double boundSeconds = 20) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > boundSeconds * 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

/// Processes events until a fresh timer of `seconds` has fired: everything due before it has run.
void processPast(double seconds) {
    bool fired = false;
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer, [&fired] { fired = true; });
    processUntil([&fired] { return fired; });
}

int textWidth(const std::string& text) {
    return static_cast<int>(
        std::ceil(QFontMetricsF(ui::PillView::font()).horizontalAdvance(QString::fromStdString(text))));
}

/// The titles of a menu's items: "-" for separators, "[x]"/"[ ]" before checkable ones, "(off)" after
/// disabled ones.
std::vector<std::string> titles(const QMenu& menu) {
    std::vector<std::string> out;
    for (const QAction* action : menu.actions()) {
        std::string title = action->isCheckable() ? (action->isChecked() ? "[x] " : "[ ] ") : "";
        title += action->isSeparator() ? "-" : action->text().toStdString();
        out.push_back(title + (action->isEnabled() || action->isSeparator() ? "" : " (off)"));
    }
    return out;
}

QAction* find(const QMenu& menu, const QString& title) {
    for (QAction* action : menu.actions()) {
        if (action->text() == title || (action->menu() && action->text().startsWith(title)))
            return action;
    }
    return nullptr;
}

TEST(Overlay, SitsAtTheBottomCentreSizedToWhatItShowsAndNoOlderFlashHidesIt) {
    ui::Overlay overlay;
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget* panel = overlay.panel();
    overlay.show(ui::Overlay::State::listening());
    EXPECT_EQ(panel->geometry(), QRect(screen.x() + (screen.width() - 96) / 2, screen.bottom() + 1 - 28 - 32, 96, 32));
    overlay.setTag("EN · Деловой");
    overlay.show(ui::Overlay::State::thinking());
    EXPECT_EQ(panel->width(), textWidth("EN · Деловой") + 86 + 16);
    EXPECT_LE(std::abs(panel->x() + panel->width() / 2.0 - (screen.x() + screen.width() / 2.0)), 1.0);
    // A message wider than the screen is neither wrapped nor cut.
    const std::string longText(400, 'W');
    overlay.show(ui::Overlay::State::message(longText));
    EXPECT_EQ(panel->width(), textWidth(longText) + 32);

    overlay.flash("Первое", 0.2);
    overlay.show(ui::Overlay::State::listening());
    processPast(0.4);
    EXPECT_TRUE(panel->isVisible()) << "a show cancels the flash's hide";
    overlay.flash("A", 0.3);
    overlay.flash("B", 0.6);
    processPast(0.45);
    EXPECT_EQ(overlay.pill()->state(), ui::Overlay::State::message("B")) << "B's own time counts, from B";
    EXPECT_TRUE(processUntil([&] { return !panel->isVisible(); }));
    overlay.flash("C", 0.2);
    overlay.hide();
    overlay.show(ui::Overlay::State::thinking());
    processPast(0.4);
    EXPECT_TRUE(panel->isVisible()) << "hide cancels it too";

    // The dots move while shown and stop with the pill.
    const double before = overlay.pill()->phase();
    ASSERT_TRUE(processUntil([&] { return overlay.pill()->phase() > before + 0.2; }));
    overlay.hide();
    const double stopped = overlay.pill()->phase();
    processPast(0.2);
    EXPECT_DOUBLE_EQ(overlay.pill()->phase(), stopped);
}

TEST(Overlay, ListeningStartsFromSilentBarsThatFollowTheLevels) {
    ui::Overlay overlay;
    ui::PillView& pill = *overlay.pill();
    overlay.show(ui::Overlay::State::listening());
    for (int i = 0; i < 9; ++i)
        overlay.level(0.9f);
    EXPECT_FLOAT_EQ(pill.levels()[0], 1.0f) << "loud levels are clamped";
    overlay.show(ui::Overlay::State::thinking());
    EXPECT_FLOAT_EQ(pill.levels()[0], 1.0f) << "thinking keeps the bars";
    overlay.show(ui::Overlay::State::listening());
    EXPECT_FLOAT_EQ(pill.levels()[0], 0.0f);
    overlay.level(1.0f / 6);
    overlay.level(0.01f);
    EXPECT_FLOAT_EQ(pill.levels()[8], std::sqrt(0.06f));
    EXPECT_FLOAT_EQ(pill.levels()[7], 1.0f);

    // Drawn: the full bar (second from the right) reaches higher than the quiet one beside it.
    QImage image(pill.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    pill.render(&image);
    auto lit = [&](int x, int y) { return qGray(image.pixel(x, y)) > 150; };
    const int full = static_cast<int>(48 - 27.5 + 6.5 * 7 + 1.5), quiet = full + 6;
    EXPECT_TRUE(lit(full, 16 - 9));
    EXPECT_FALSE(lit(quiet, 16 - 9));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "the corner is outside the rounded body";
}

class StatusMenuTest : public ::testing::Test {
protected:
    StatusMenuTest() {
        state.keyShort = "правый Alt";
        state.engineLoaded = true;
        state.model = State::ready();
        for (auto [action, name] : {std::pair{&actions.toggleAI, "toggleAI"},
                                    {&actions.editKey, "editKey"},
                                    {&actions.retryDownload, "retryDownload"},
                                    {&actions.quit, "quit"},
                                    {&actions.openOnboarding, "openOnboarding"}})
            *action = [this, name] { calls.push_back(name); };
        actions.chooseStyle = [this](const std::string& raw) { calls.push_back("chooseStyle " + raw); };
        actions.copyRecent = [this](const std::string& entry) { calls.push_back("copyRecent " + entry); };
    }
    std::vector<std::string> build() {
        ui::StatusMenu::build(menu, state, actions);
        return titles(menu);
    }
    ui::StatusMenu::MenuState state;
    ui::StatusMenu::MenuActions actions;
    std::vector<std::string> calls;
    QMenu menu;
};

TEST_F(StatusMenuTest, EveryItemInOrderWithAndWithoutAKey) {
    state.aiCleanup = true; // stored as on, but without a key it is shown off
    EXPECT_EQ(build(), (std::vector<std::string>{"Держите правый Alt и говорите (off)", "-", "Стиль: Как сказал",
                                                 "[ ] Исправлять оговорки через ИИ (нужен ключ)", "Ключ ИИ…",
                                                 "Сервис ИИ…", "Словарь…", "Последние", "[ ] Запускать при входе", "-",
                                                 "Настройка…", "-", "Выйти"}));
    QMenu* styles = find(menu, "Стиль: ")->menu();
    EXPECT_EQ(titles(*styles), (std::vector<std::string>{"[x] Как сказал", "[ ] Естественный", "[ ] Деловой",
                                                         "[ ] Дружеский", "-", "[ ] Переводить на английский",
                                                         "Стили и перевод делает ИИ: нужен ключ (off)"}));
    EXPECT_EQ(titles(*find(menu, "Последние")->menu()), std::vector<std::string>{"Пока пусто (off)"});
    find(*styles, "Деловой")->trigger();
    find(menu, "Исправлять оговорки через ИИ (нужен ключ)")->trigger();
    EXPECT_EQ(calls, (std::vector<std::string>{"chooseStyle business", "toggleAI"}));

    state.hasKey = state.aiReady = true;
    state.preset = {text::Style::business, true};
    state.dictionaryCount = 3;
    state.loginEnabled = true;
    auto all = build();
    for (const char* item : {"Стиль: Деловой, на английском", "[x] Исправлять оговорки через ИИ", "Ключ ИИ задан…",
                             "Словарь (3)…", "[x] Запускать при входе"})
        EXPECT_NE(std::find(all.begin(), all.end(), item), all.end()) << item;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 2) << "the last build's submenus went";
}

TEST_F(StatusMenuTest, TheModelAndPermissionLines) {
    state.engineLoaded = false;
    state.trusted = false;
    const std::pair<State, std::string> lines[] = {
        {State::downloading(0.999), "Модель речи скачивается: 99% (off)"},
        {State::failed("нет соединения с сервером"), "Модель речи не скачалась: нет соединения с сервером (off)"},
        {State::ready(), "Модель речи загружается… (off)"},
    };
    for (const auto& [model, line] : lines) {
        state.model = model;
        EXPECT_EQ(build()[1], line);
    }
    state.model = State::failed("нет сети");
    auto all = build();
    EXPECT_EQ(std::vector(all.begin() + 2, all.begin() + 5),
              (std::vector<std::string>{"Скачать еще раз", "Разрешить доступ к клавиатуре…", "-"}));
    find(menu, "Скачать еще раз")->trigger();
    find(menu, "Разрешить доступ к клавиатуре…")->trigger();
    EXPECT_EQ(calls, (std::vector<std::string>{"retryDownload", "openOnboarding"}));
    state.engineError = "Модель речи не загрузилась";
    state.model = State::missing();
    EXPECT_EQ(build()[1], "Модель речи не загрузилась (off)");
    state.engineLoaded = true;
    state.trusted = true;
    EXPECT_EQ(build()[1], "-") << "no status line once the engine is loaded";
}

TEST_F(StatusMenuTest, RecentEntriesAreFoldedAndCutButCopiedWhole) {
    const std::string longEntry = std::string(40, 'a') + "\n" + std::string(59, 'b'); // 100 characters
    state.history = {longEntry, "Привет,\r\n\r\nмир\u2028и\u0085все"};
    build();
    const auto items = find(menu, "Последние")->menu()->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text().toStdString(), std::string(40, 'a') + " " + std::string(19, 'b') + "…");
    EXPECT_EQ(items[1]->text(), "Привет, мир и все");
    items[0]->trigger();
    EXPECT_EQ(calls, std::vector<std::string>{"copyRecent " + longEntry});
    // Exactly 60 is kept; a character of several code points counts once and is never split.
    EXPECT_EQ(ui::StatusMenu::recentTitle(std::string(60, 'x')).toStdString(), std::string(60, 'x'));
    std::string families;
    for (int i = 0; i < 61; ++i)
        families += "👩‍👩‍👧‍👦";
    const QString cut = ui::StatusMenu::recentTitle(families);
    EXPECT_TRUE(cut.endsWith("…"));
    EXPECT_EQ(cut.chopped(1).toStdString().size(), families.size() / 61 * 60);
}

class OnboardingTest : public ::testing::Test {
protected:
    OnboardingTest() {
        window.status = [this] { return snapshot; };
        window.microphone = [this] { return mic; };
        window.onRetryDownload = [this] { calls.push_back("retry"); };
        window.onAskAccessibility = [this] { calls.push_back("accessibility"); };
        window.onAskMicrophone = [this] { calls.push_back("microphone"); };
        window.onFinish = [this] { calls.push_back("finish"); };
        window.onKeyChange = [this](int index) { calls.push_back("key " + std::to_string(index)); };
        window.keyTitles = {"Правый Alt", "Правый Super"};
    }
    std::string detail(const std::string& key) const { return window.row(key).detail->text().toStdString(); }
    std::string symbol(const std::string& key) const { return window.row(key).symbol.toStdString(); }
    bool buttonShown(const std::string& key) const { return !window.row(key).button->isHidden(); }
    std::string hint() const { return window.tryHint()->text().toStdString(); }

    testsupport::IsolatedHome home;
    core::Defaults settings = core::Defaults::standard();
    ui::Onboarding::Status snapshot;
    ui::Onboarding::Microphone mic = ui::Onboarding::Microphone::ready;
    std::vector<std::string> calls;
    ui::Onboarding window{settings};
};

TEST_F(OnboardingTest, TheRowsFollowTheModelMicrophoneAndKeyboard) {
    snapshot.model = State::downloading(0.995);
    snapshot.trusted = true;
    window.show();
    EXPECT_EQ(detail("model"), "Скачивается: 99% из 232 МБ. Один раз, дальше без интернета.");
    EXPECT_FALSE(buttonShown("model"));
    snapshot.model = State::failed("нет соединения с сервером");
    window.refresh();
    EXPECT_EQ(detail("model"), "Не скачалась: нет соединения с сервером");
    window.row("model").button->click();
    snapshot.model = State::ready();
    window.refresh();
    EXPECT_EQ(detail("model"), "Загружается…");
    // The half-second refresh picks up the loaded engine by itself.
    snapshot.engineReady = true;
    ASSERT_TRUE(processUntil([&] { return symbol("model") == "checkmark.circle.fill"; }));
    EXPECT_EQ(detail("model"), "Скачана. Все работает без интернета.");
    EXPECT_FALSE(buttonShown("keys"));

    mic = ui::Onboarding::Microphone::notAsked;
    window.refresh();
    window.row("mic").button->click();
    // Unavailable: the button opens the desktop's sound settings when there is a program for them.
    mic = ui::Onboarding::Microphone::unavailable;
    window.soundSettings.reset();
    window.refresh();
    EXPECT_EQ(detail("mic"), "Микрофон не найден или выключен. Проверьте настройки звука.");
    EXPECT_FALSE(buttonShown("mic"));
    testsupport::TempDir bin;
    const auto marker = bin / "opened";
    testsupport::writeFile(bin / "pavucontrol", "#!/bin/sh\necho \"$@\" > '" + marker.string() + "'\n");
    std::filesystem::permissions(bin / "pavucontrol", std::filesystem::perms::owner_all);
    {
        testsupport::ScopedEnv path("PATH", bin.path().string() + ":" + std::getenv("PATH"));
        window.soundSettings = ui::Onboarding::findSoundSettings();
    }
    window.refresh();
    EXPECT_EQ(window.row("mic").button->text(), "Открыть настройки");
    window.row("mic").button->click();
    EXPECT_TRUE(processUntil([&] { return std::filesystem::exists(marker); }));

    snapshot.trusted = false;
    window.refresh();
    window.row("keys").button->click();
    EXPECT_EQ(calls, (std::vector<std::string>{"retry", "microphone", "accessibility"}));
}

TEST_F(OnboardingTest, TheHintKeyChoiceTryAreaAndFinish) {
    snapshot.model = State::ready();
    snapshot.trusted = true;
    window.show();
    EXPECT_EQ(hint(), "Когда все отметки выше будут стоять, зажмите правый Alt и скажите что-нибудь: текст "
                      "появится здесь.");
    snapshot.engineReady = true;
    snapshot.keyName = "правый Super";
    emit window.keyPopup()->activated(1);
    EXPECT_EQ(calls, std::vector<std::string>{"key 1"});
    EXPECT_EQ(hint(), "Нажмите в поле ниже, зажмите правый Super и скажите: «Привет, это проверка». Отпустите "
                      "клавишу.");
    QTest::keyClicks(window.tryView(), "  ");
    EXPECT_NE(hint().find("правый Super"), std::string::npos) << "blank text changes nothing";
    QTest::keyClicks(window.tryView(), "Hello");
    const std::string success = "Получилось. Так работает в любой программе: в почте, Telegram, заметках.";
    window.refresh();
    EXPECT_EQ(hint(), success) << "kept while the try area holds text";

    // Closing is not finishing; Return in the window is "Готово".
    window.window()->close();
    EXPECT_FALSE(window.refreshing());
    EXPECT_FALSE(window.isDone());
    window.show();
    window.keyPopup()->setFocus();
    ASSERT_TRUE(processUntil([&] { return window.keyPopup()->hasFocus(); }));
    QTest::keyClick(window.window()->windowHandle(), Qt::Key_Return);
    ASSERT_TRUE(processUntil([&] { return calls.back() == "finish"; }));
    EXPECT_TRUE(window.isDone());
    EXPECT_FALSE(window.window()->isVisible());
}

TEST_F(OnboardingTest, TheKeyboardRowAndTheTrayHeaderSayWhyTheKeyIsNotHeard) {
    snapshot.access =
        platform::Access{platform::KeyAccess::denied, platform::PasteAccess::ready, "sudo usermod -aG input anna"};
    std::vector<std::string> copied;
    window.onCopyCommand = [&](const std::string& command) { copied.push_back(command); };
    window.show();
    EXPECT_NE(detail("keys").find("\nsudo usermod -aG input anna\n"), std::string::npos) << detail("keys");
    ASSERT_EQ(window.row("keys").button->text(), "Скопировать команду");
    window.row("keys").button->click();
    EXPECT_EQ(copied, std::vector<std::string>{"sudo usermod -aG input anna"});
    // Heard, but nothing can paste: not done, and no button that could not help.
    snapshot.trusted = true;
    snapshot.access = platform::Access{platform::KeyAccess::ready, platform::PasteAccess::unavailable, ""};
    window.refresh();
    EXPECT_EQ(symbol("keys"), "circle");
    EXPECT_FALSE(buttonShown("keys"));

    QMenu menu;
    ui::StatusMenu::MenuState state;
    state.keyShort = "правый Alt";
    state.engineLoaded = true;
    state.trusted = false;
    state.access = platform::Access{platform::KeyAccess::relogin, platform::PasteAccess::ready, ""};
    ui::StatusMenu::build(menu, state, {});
    EXPECT_EQ(titles(menu).front(), "Клавиша не слышна: войдите в сеанс заново (off)");
}

TEST(KeyDialog, SavesTheTrimmedKeyTakesTheSiblingOneAndCancelKeepsTheOld) {
    testsupport::IsolatedHome home;
    auto store = std::make_shared<fakes::MemorySecretStore>();
    text::Keychain keychain(store);
    std::vector<std::string> buttons;
    auto open = [&](const std::function<ui::KeyDialog::Button(ui::KeyDialog::Form&)>& choose) {
        ui::KeyDialog::chooser = [&](ui::KeyDialog::Form& form) {
            buttons.clear();
            for (QPushButton* button : form.buttons)
                buttons.push_back(button->text().toStdString());
            return choose(form);
        };
        ui::KeyDialog::editKey(keychain);
        ui::KeyDialog::chooser = nullptr;
    };
    auto stored = [&] { return store->peek(); };

    open([](ui::KeyDialog::Form& form) {
        EXPECT_EQ(form.field->echoMode(), QLineEdit::Password);
        EXPECT_TRUE(processUntil([&] { return form.field->hasFocus(); })) << "focus in the field";
        form.field->setText("  sk-new key\n");
        return ui::KeyDialog::Button::save;
    });
    EXPECT_EQ(buttons, (std::vector<std::string>{"Сохранить", "Отмена"})) << "no third button without a sibling key";
    EXPECT_EQ(stored(), "sk-new key");
    open([](ui::KeyDialog::Form& form) {
        EXPECT_EQ(form.field->text(), "sk-new key");
        QTest::keyClicks(form.field, "other");
        QTest::keyClick(form.dialog, Qt::Key_Escape);
        return ui::KeyDialog::Button::cancel;
    });
    EXPECT_EQ(stored(), "sk-new key");

    testsupport::writeFile(text::Keychain::ruvexFile(),
                           "LLM_BASE_URL=https://api.deepseek.com\nLLM_API_KEY=sk-from-ruvex\n");
    open([](ui::KeyDialog::Form&) { return ui::KeyDialog::Button::ruvex; });
    EXPECT_EQ(buttons.back(), "Взять из Ruvex");
    EXPECT_EQ(stored(), "sk-from-ruvex");
    // The first button is the default: Return in the field saves what it holds; empty removes the key.
    open([](ui::KeyDialog::Form& form) {
        form.field->clear();
        QTest::keyClick(form.field, Qt::Key_Return);
        EXPECT_EQ(form.dialog->result(), 1000);
        return ui::KeyDialog::Button::save;
    });
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_EQ(keychain.aiKey(), std::nullopt);
}

TEST(VocabularyWindow, ShowsTheFileSavesTheWholeTextOnceAndEscapeCancels) {
    testsupport::IsolatedHome home;
    const std::string fileText = "Kubernetes\nкубер нетис -> Kubernetes\n";
    testsupport::writeFile(text::Vocabulary::file(), fileText);
    ui::VocabularyWindow editor;
    std::vector<std::string> saved;
    editor.onSave = [&](const std::string& text) { saved.push_back(text); };
    editor.show();
    QWidget* window = editor.window();
    EXPECT_EQ(editor.textView()->toPlainText().toStdString(), fileText);
    ASSERT_TRUE(processUntil([&] { return editor.textView()->hasFocus(); }));
    // The window's "Правка" menu acts on the text.
    std::map<QString, QAction*> edit;
    for (QMenu* menu : window->findChildren<QMenu*>()) {
        for (QAction* action : menu->actions())
            edit[action->text()] = action;
    }
    ASSERT_TRUE(edit.count("Выделить все") && edit.count("Вырезать") && edit.count("Отменить"));
    edit["Выделить все"]->trigger();
    edit["Вырезать"]->trigger();
    EXPECT_TRUE(editor.textView()->toPlainText().isEmpty());
    edit["Отменить"]->trigger();
    EXPECT_EQ(editor.textView()->toPlainText().toStdString(), fileText);
    // Quotes, dashes and a non-breaking space stay exactly as typed; Ctrl+S saves.
    QTest::keyClick(editor.textView(), Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(editor.textView(), QString::fromUtf8("\"Qt\" -- it's\u00a0ok -> OK"));
    QTest::keyClick(window->windowHandle(), Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(processUntil([&] { return !window->isVisible(); }));
    EXPECT_EQ(saved, std::vector<std::string>{fileText + "\"Qt\" -- it's\u00a0ok -> OK"});

    // Unsaved edits are gone at the next show; Escape closes without saving.
    editor.show();
    EXPECT_EQ(editor.textView()->toPlainText().toStdString(), fileText);
    QTest::keyClicks(editor.textView(), "lost");
    QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
    EXPECT_TRUE(processUntil([&] { return !window->isVisible(); }));
    EXPECT_EQ(saved.size(), 1u);
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
