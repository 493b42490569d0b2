// The tray menu of the application, in this process on the test desktop, read and clicked the way a
// desktop panel does it: a StatusNotifierWatcher makes Qt publish the menu over D-Bus, where gdbus
// opens it, lists it (GetLayout) and clicks its items (Event).
#include "DbusMenu.h"
#include "DesktopSupport.h"
#include "app/AppDelegate.h"
#include "core/Defaults.h"
#include "fakes/FakeDictation.h"
#include "fakes/MemorySecretStore.h"
#include "platform/linux/Autostart.h"
#include "platform/qt/QtMainQueue.h"
#include "platform/x11/X11Trust.h"
#include "support/TempDir.h"
#include "text/Keychain.h"
#include "ui/KeyDialog.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace {

using Button = ui::KeyDialog::Button;

/// Where the pill's messages are logged; fixed for the process before anything logs.
const std::filesystem::path& logFile() {
    static const testsupport::TempDir dir;
    static const std::filesystem::path file = dir / "events.log";
    return file;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

/// The tray's menu among this program's windows: the one with "Выйти".
QMenu* trayMenu() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* menu = qobject_cast<QMenu*>(widget);
        if (!menu)
            continue;
        for (const QAction* action : menu->actions()) {
            if (action->text() == QStringLiteral("Выйти"))
                return menu;
        }
    }
    return nullptr;
}

QAction* action(const QMenu& menu, const QString& title) {
    for (QAction* item : menu.actions()) {
        if (item->text() == title || (item->menu() && item->text().startsWith(title)))
            return item;
    }
    return nullptr;
}

class TrayMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto missing = desktop::missingAccessibilityBus())
            GTEST_SKIP() << *missing;
        // A panel's watcher must be there before the tray item is made, or Qt embeds the icon instead.
        watcher = std::make_unique<desktop::Program>(QStringLiteral(RUVEX_FAKE_WATCHER), QStringList{});
        ASSERT_TRUE(watcher->waitForLine([](const std::string& line) { return line == "ready"; }))
            << watcher->remainingOutput();
        setenv("XDG_CONFIG_DIRS", (home.path() / "xdg").c_str(), 1);
        testsupport::writeFile(home.configHome() / "Ruvex Voice" / "settings.json", R"({"onboardingDone": true})");
        // Two terms and one replacement.
        testsupport::writeFile(home.dataHome() / "Ruvex Voice" / "Словарь.txt", "каша\nборщ\nмягких → свежих\n");
        text::Keychain::useStore(store);
        ui::KeyDialog::chooser = [this](ui::KeyDialog::Form& form) {
            ++dialogs;
            buttons = form.buttons.size();
            fieldHadFocus = desktop::pumpUntil([&] { return form.field->hasFocus(); });
            return answer(form);
        };
    }

    void TearDown() override {
        ui::KeyDialog::chooser = nullptr;
        delegate.reset();
        text::Keychain::useStore(nullptr);
    }

    /// Starts the application with the model in `status` and waits for its menu on the bus.
    void launch(app::ModelStatus status) {
        auto fake = std::make_unique<fakes::FakeModels>();
        models = fake.get();
        models->status = std::move(status);
        delegate =
            std::make_unique<app::AppDelegate>(main, std::make_unique<platform::x11::X11Trust>(), std::move(fake));
        delegate->launch();
        const auto item = watcher->waitForLine([](const std::string& line) { return line.rfind("item ", 0) == 0; });
        ASSERT_TRUE(item) << "no tray item registered";
        menu = std::make_unique<TrayMenu>(QString::fromStdString(item->substr(5)));
        ASSERT_TRUE(desktop::pumpUntil([&] { return menu->has("Выйти"); })) << menu->layout();
    }

    /// Clicks `label` and waits until `done`.
    void click(const std::string& label, const std::function<bool()>& done) {
        ASSERT_TRUE(menu->click(label)) << label << " is not in\n" << menu->layout();
        ASSERT_TRUE(desktop::pumpUntil(done)) << "after " << label;
    }

    bool hasItem(const std::string& line) { return contains(menu->items(), line); }

    std::optional<std::string> storedKey() const {
        return store->peek(text::Keychain::service, text::Keychain::account);
    }

    std::vector<std::string> logged() const {
        std::vector<std::string> lines;
        std::ifstream in(logFile());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    testsupport::IsolatedHome home;
    std::unique_ptr<desktop::Program> watcher;
    std::shared_ptr<fakes::MemorySecretStore> store = std::make_shared<fakes::MemorySecretStore>();
    platform::qt::QtMainQueue main;
    fakes::FakeModels* models = nullptr;
    std::unique_ptr<app::AppDelegate> delegate;
    std::unique_ptr<TrayMenu> menu;

    /// What the key dialog's user does; by default "Отмена".
    std::function<Button(ui::KeyDialog::Form&)> answer = [](ui::KeyDialog::Form&) { return Button::cancel; };
    int dialogs = 0;
    std::size_t buttons = 0;
    bool fieldHadFocus = false;
};

TEST_F(TrayMenuTest, ThePanelSeesEveryItemForEachState) {
    ASSERT_NO_FATAL_FAILURE(launch({app::ModelStatus::Kind::downloading, 0.427, ""}));
    const std::vector<std::string> withoutKey = {
        "Держите правый Alt и говорите (off)",
        "Модель речи скачивается: 42% (off)",
        "-",
        "Стиль: Как сказал",
        "  [x] Как сказал",
        "  [ ] Естественный",
        "  [ ] Деловой",
        "  [ ] Дружеский",
        "  -",
        "  [ ] Переводить на английский",
        "  Стили и перевод делает ИИ: нужен ключ (off)",
        "[ ] Исправлять оговорки через ИИ (нужен ключ)",
        "Ключ ИИ…",
        "Словарь (3)…",
        "Последние",
        "  Пока пусто (off)",
        "[ ] Запускать при входе",
        "-",
        "Настройка…",
        "-",
        "Выйти",
    };
    EXPECT_EQ(menu->items(), withoutKey);
    EXPECT_NE(menu->layout().find("'shortcut': <[['Control', 'Q']]>"), std::string::npos) << menu->layout();

    // A failed download offers another try, which starts one.
    models->status = {app::ModelStatus::Kind::failed, 0, "нет соединения с сервером"};
    auto items = menu->items();
    ASSERT_GE(items.size(), 4u);
    EXPECT_EQ(items[1], "Модель речи не скачалась: нет соединения с сервером (off)");
    EXPECT_EQ(items[2], "Скачать еще раз");
    EXPECT_EQ(items[3], "-");
    const int downloads = models->downloads;
    click("Скачать еще раз", [&] { return models->downloads == downloads + 1; });

    // With a key (and "aiCleanup" absent, so on); two results, the newest first.
    text::Keychain::setAiKey("sk-test");
    const std::string entry = "Напомни завтра позвонить Ивану по поводу отчёта\nи отправить ему таблицу с цифрами за "
                              "третий квартал.";
    ASSERT_EQ(QString::fromStdString(entry).size(), 100);
    delegate->dictation().history = {entry, "Купить хлеба"};
    items = menu->items();
    const std::vector<std::string> withKey(std::find(items.begin(), items.end(), "Стиль: Как сказал"), items.end());
    const std::vector<std::string> expected = {
        "Стиль: Как сказал",
        "  [x] Как сказал",
        "  [ ] Естественный",
        "  [ ] Деловой",
        "  [ ] Дружеский",
        "  -",
        "  [ ] Переводить на английский",
        "[x] Исправлять оговорки через ИИ",
        "Ключ ИИ задан…",
        "Словарь (3)…",
        "Последние",
        "  Напомни завтра позвонить Ивану по поводу отчёта и отправить …",
        "  Купить хлеба",
        "[ ] Запускать при входе",
        "-",
        "Настройка…",
        "-",
        "Выйти",
    };
    EXPECT_EQ(withKey, expected);

    // Tool tips are not part of what the panel reads: look at the menu itself.
    QMenu* tray = trayMenu();
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(action(*tray, "Исправлять оговорки через ИИ")->toolTip(),
              "«до пятницы, нет, до четверга» → «до четверга». В DeepSeek уходит только фраза с оговоркой.");
    QMenu* styles = action(*tray, "Стиль: ")->menu();
    EXPECT_EQ(action(*styles, "Переводить на английский")->toolTip(),
              "Для постов в X (Twitter): говорите по-русски, вставляется пост на английском в выбранном стиле.");
    EXPECT_FALSE(action(*styles, "Деловой")->toolTip().isEmpty());
    QMenu* recent = action(*tray, "Последние")->menu();
    EXPECT_EQ(recent->actions().value(0)->toolTip(), "Скопировать");

    // The open menu, for people to look at: the recent results shown.
    tray->popup(QPoint(40, 40));
    ASSERT_TRUE(desktop::pumpUntil([&] { return tray->isVisible(); }));
    // Opening rebuilt it: its submenus are new.
    recent = action(*tray, "Последние")->menu();
    tray->setActiveAction(action(*tray, "Последние"));
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QApplication::sendEvent(tray, &right);
    ASSERT_TRUE(desktop::pumpUntil([&] { return recent->isVisible(); }));
    desktop::pumpFor(0.3); // let the compositor draw it
    const char* folder = std::getenv("RUVEX_SCREENSHOTS");
    if (folder && *folder) {
        std::filesystem::create_directories(folder);
        const auto picture = std::filesystem::path(folder) / "tray-menu.png";
        EXPECT_EQ(desktop::runTool("import", {"-window", "root", QString::fromStdString(picture.string())}).exitCode,
                  0);
        EXPECT_TRUE(std::filesystem::exists(picture));
    }
    tray->hide();

    // Choosing a result copies all of it, line break included.
    click("Напомни завтра позвонить Ивану по поводу отчёта и отправить …",
          [&] { return desktop::selectionTarget("UTF8_STRING") == entry; });
}

TEST_F(TrayMenuTest, FeaturesThatNeedAKeyAskForItFirst) {
    ASSERT_NO_FATAL_FAILURE(launch({app::ModelStatus::Kind::downloading, 0.5, ""}));

    // A style without a key: the dialog; cancelled, nothing changes.
    click("Естественный", [&] { return dialogs == 1; });
    EXPECT_EQ(buttons, 2u);
    EXPECT_TRUE(fieldHadFocus);
    EXPECT_TRUE(hasItem("  [x] Как сказал"));
    EXPECT_TRUE(hasItem("  [ ] Естественный"));
    EXPECT_TRUE(hasItem("Стиль: Как сказал"));

    // Saved with a key pasted with spaces and a line break: stored trimmed, and the style is chosen.
    answer = [](ui::KeyDialog::Form& form) {
        form.field->setText("  sk-pasted \n");
        return Button::save;
    };
    click("Естественный", [&] { return dialogs == 2; });
    EXPECT_EQ(storedKey(), "sk-pasted");
    EXPECT_TRUE(hasItem("Стиль: Естественный"));
    EXPECT_TRUE(hasItem("  [ ] Как сказал"));
    EXPECT_TRUE(hasItem("  [x] Естественный"));
    EXPECT_TRUE(hasItem("Ключ ИИ задан…"));

    // With a key, another style asks nothing.
    click("Деловой", [&] { return hasItem("  [x] Деловой"); });
    EXPECT_EQ(dialogs, 2);

    // The key item: an emptied field removes the key.
    answer = [](ui::KeyDialog::Form& form) {
        EXPECT_EQ(form.field->text(), "sk-pasted");
        EXPECT_EQ(form.field->echoMode(), QLineEdit::Password);
        form.field->clear();
        return Button::save;
    };
    click("Ключ ИИ задан…", [&] { return dialogs == 3; });
    EXPECT_EQ(storedKey(), std::nullopt);
    EXPECT_TRUE(hasItem("Ключ ИИ…"));
    EXPECT_TRUE(hasItem("[ ] Исправлять оговорки через ИИ (нужен ключ)"));

    // "Как сказал" never asks.
    click("Как сказал", [&] { return hasItem("  [x] Как сказал"); });
    EXPECT_EQ(dialogs, 3);

    // English: turning it on asks; cancelled, it stays off; with a key it is on.
    answer = [](ui::KeyDialog::Form&) { return Button::cancel; };
    click("Переводить на английский", [&] { return dialogs == 4; });
    EXPECT_TRUE(hasItem("  [ ] Переводить на английский"));
    EXPECT_EQ(core::Defaults::standard().boolean("english"), std::nullopt);
    answer = [](ui::KeyDialog::Form& form) {
        form.field->setText("sk-second");
        return Button::save;
    };
    click("Переводить на английский", [&] { return dialogs == 5; });
    EXPECT_TRUE(hasItem("  [x] Переводить на английский"));
    EXPECT_TRUE(hasItem("Стиль: Как сказал, на английском"));
    // Turning it off never asks, key or not.
    text::Keychain::setAiKey(std::nullopt);
    click("Переводить на английский", [&] { return hasItem("  [ ] Переводить на английский"); });
    EXPECT_EQ(dialogs, 5);

    // AI correction without a key: the dialog; stored on only when a key results.
    core::Defaults::standard().setBoolean("aiCleanup", false);
    answer = [](ui::KeyDialog::Form& form) {
        form.field->setText("   ");
        return Button::save;
    };
    click("Исправлять оговорки через ИИ (нужен ключ)", [&] { return dialogs == 6; });
    EXPECT_EQ(core::Defaults::standard().boolean("aiCleanup"), false);
    EXPECT_EQ(storedKey(), std::nullopt);
    answer = [](ui::KeyDialog::Form& form) {
        form.field->setText("sk-third");
        return Button::save;
    };
    click("Исправлять оговорки через ИИ (нужен ключ)", [&] { return dialogs == 7; });
    EXPECT_EQ(core::Defaults::standard().boolean("aiCleanup"), true);
    EXPECT_TRUE(hasItem("[x] Исправлять оговорки через ИИ"));
    // With the key it just switches.
    click("Исправлять оговорки через ИИ", [&] { return hasItem("[ ] Исправлять оговорки через ИИ"); });
    EXPECT_EQ(core::Defaults::standard().boolean("aiCleanup"), false);
    EXPECT_EQ(dialogs, 7);
}

TEST_F(TrayMenuTest, LaunchAtLoginIsSwitchedFromTheMenu) {
    ASSERT_NO_FATAL_FAILURE(launch({app::ModelStatus::Kind::downloading, 0.5, ""}));
    const auto file = platform::lnx::Autostart::userFile();
    ASSERT_EQ(file, home.configHome() / "autostart" / "app.ruvex.voice.desktop");

    click("Запускать при входе", [&] { return std::filesystem::exists(file); });
    EXPECT_TRUE(hasItem("[x] Запускать при входе"));
    const auto check = desktop::runTool("desktop-file-validate", {QString::fromStdString(file.string())});
    EXPECT_EQ(check.exitCode, 0) << check.out;
    EXPECT_EQ(check.out, "");
    EXPECT_NE(
        testsupport::readFile(file).find("\nExec=" + std::filesystem::read_symlink("/proc/self/exe").string() + "\n"),
        std::string::npos)
        << testsupport::readFile(file);

    click("Запускать при входе", [&] { return !std::filesystem::exists(file); });
    EXPECT_TRUE(hasItem("[ ] Запускать при входе"));

    // The autostart folder cannot be made: the pill says why, and the item stays off.
    std::filesystem::remove(home.configHome() / "autostart");
    testsupport::writeFile(home.configHome() / "autostart", "not a folder");
    ASSERT_TRUE(std::filesystem::is_regular_file(home.configHome() / "autostart"));
    const std::string failure = "flash Не получилось: нет доступа к папке автозапуска";
    click("Запускать при входе", [&] { return contains(logged(), failure); });
    EXPECT_TRUE(hasItem("[ ] Запускать при входе"));
}

TEST_F(TrayMenuTest, QuitEndsTheProgram) {
    ASSERT_NO_FATAL_FAILURE(launch({app::ModelStatus::Kind::downloading, 0.5, ""}));
    bool clicked = false;
    QTimer::singleShot(0, [&] { clicked = menu->click("Выйти"); });
    // Only a broken test gets here: it must not hang.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    guard.start(60000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(clicked);
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    setenv("RUVEX_VOICE_TEST_LOG", logFile().c_str(), 1);
    std::unique_ptr<QApplication> application;
    const char* display = std::getenv("DISPLAY");
    if (display && *display) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        application = std::make_unique<QApplication>(argc, argv);
    }
    return RUN_ALL_TESTS();
}
