// The tray application's delegate in this process, on Qt's offscreen platform, with every desktop
// service faked: the wiring from key to paste, the menu's actions and the key they require.
#include "app/AppDelegate.h"
#include "app/Backend.h"
#include "fakes/FakeDesktop.h"
#include "fakes/FakeModel.h"
#include "platform/linux/Autostart.h"
#include "platform/qt/QtMainQueue.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "ui/AiServiceDialog.h"
#include "ui/KeyDialog.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace {

using Button = ui::KeyDialog::Button;

bool pumpUntil(const std::function<bool()>& done, double seconds = 10) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A service that needs a key: not this machine by the rule's reading, though nothing sent to it
        // leaves the machine.
        testsupport::writeFile(home.configHome() / "Ruvex Voice" / "settings.json",
                               R"({"onboardingDone": true, "aiURL": "https://[::ffff:127.0.0.1]:9"})");
        ui::KeyDialog::chooser = [this](ui::KeyDialog::Form& form) {
            ++dialogs;
            return answer(form);
        };
    }
    void TearDown() override {
        ui::KeyDialog::chooser = nullptr;
        ui::AiServiceDialog::chooser = nullptr;
    }

    void launch(speech::ModelState state = speech::ModelState::ready()) {
        auto owned = std::make_unique<fakes::FakeModel>();
        model = owned.get();
        model->current = state;
        delegate = std::make_unique<app::AppDelegate>(main, fake.take(), std::move(owned));
        delegate->launch();
    }

    /// The menu as it opens: each item's text, with "[x]"/"[ ]" for check boxes, submenus inline.
    std::vector<std::string> items() {
        Q_EMIT delegate->menu().aboutToShow();
        std::vector<std::string> lines;
        auto add = [&](const QMenu& menu, auto& self) -> void {
            for (QAction* action : menu.actions()) {
                std::string mark = action->isCheckable() ? (action->isChecked() ? "[x] " : "[ ] ") : "";
                lines.push_back(mark + (action->isSeparator() ? "-" : action->text().toStdString()));
                if (action->menu())
                    self(*action->menu(), self);
            }
        };
        add(delegate->menu(), add);
        return lines;
    }
    bool has(const std::string& line) {
        auto all = items();
        return std::find(all.begin(), all.end(), line) != all.end();
    }
    /// Opens the menu and triggers the item whose text is `title` (in a submenu too).
    void click(const std::string& title) {
        Q_EMIT delegate->menu().aboutToShow();
        std::function<QAction*(const QMenu&)> find = [&](const QMenu& menu) -> QAction* {
            for (QAction* action : menu.actions()) {
                if (action->text().toStdString() == title)
                    return action;
                if (action->menu())
                    if (QAction* found = find(*action->menu()))
                        return found;
            }
            return nullptr;
        };
        QAction* action = find(delegate->menu());
        ASSERT_NE(action, nullptr) << title;
        action->trigger();
    }
    std::vector<std::string> logged() const {
        std::vector<std::string> lines;
        std::ifstream in(home.path() / "events.log");
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::optional<std::string> storedKey() const { return fake.secrets->peek(); }

    testsupport::IsolatedHome home;
    testsupport::ScopedEnv log{"RUVEX_VOICE_TEST_LOG", (home.path() / "events.log").string()};
    testsupport::ScopedEnv noService{"RUVEX_VOICE_AI_URL", std::nullopt};
    testsupport::ScopedEnv noSystemAutostart{"XDG_CONFIG_DIRS", (home.path() / "xdg").string()};
    platform::qt::QtMainQueue main;
    fakes::FakeDesktop fake{main};
    fakes::FakeModel* model = nullptr;
    std::unique_ptr<app::AppDelegate> delegate;
    std::function<Button(ui::KeyDialog::Form&)> answer = [](ui::KeyDialog::Form&) { return Button::cancel; };
    int dialogs = 0;
};

TEST_F(AppDelegateTest, TheTriggerKeyDictatesIntoTheFocusedWindowOnceTheKeyboardIsAllowed) {
    fake.trust->granted = false;
    launch();
    ASSERT_TRUE(pumpUntil([&] { return delegate->dictation().engineLoaded(); }));
    EXPECT_EQ(fake.keys->starts, 0) << "no keys are watched before the permission";

    fake.trust->granted = true;
    ASSERT_TRUE(pumpUntil([&] { return fake.keys->starts == 1; }));
    EXPECT_EQ(logged().back(), "flash Готово: держите правый Alt и говорите");

    fake.keys->press(108, true);
    ASSERT_EQ(fake.microphones.size(), 1u);
    for (int i = 0; i < 50; ++i)
        fake.microphones.back()->deliver(std::vector<float>(320, i < 25 ? 0.0f : 0.5f));
    pumpUntil([] { return false; }, 0.4);
    fake.keys->release(108, true);
    ASSERT_TRUE(pumpUntil([&] { return !delegate->dictation().history().empty(); }));
    EXPECT_EQ(delegate->dictation().history().front(), "Слово5");
    ASSERT_TRUE(pumpUntil([&] { return std::count(fake.log.begin(), fake.log.end(), "send controlV") == 1; }));
    EXPECT_TRUE(std::find(fake.log.begin(), fake.log.end(), "write clipboard Слово5") != fake.log.end());

    // A result from the recent list goes to the clipboard, whole.
    click("Слово5");
    EXPECT_EQ(fake.clipboard->contents(platform::Selection::clipboard).front().data, "Слово5");
}

TEST_F(AppDelegateTest, TheMenuFollowsTheModelAndFeaturesThatNeedAKeyAskForItFirst) {
    launch(speech::ModelState::failed("нет соединения с сервером"));
    EXPECT_EQ(items().at(1), "Модель речи не скачалась: нет соединения с сервером");
    click("Скачать еще раз");
    EXPECT_EQ(model->downloads, 2) << "one at launch, one asked for";

    // Without a key a style asks for one: cancelled, nothing changes; saved, it is stored trimmed and
    // the style is chosen; then another style asks nothing.
    auto typing = [&](const std::string& text) {
        answer = [text](ui::KeyDialog::Form& form) {
            form.field->setText(QString::fromStdString(text));
            return Button::save;
        };
    };
    click("Естественный");
    EXPECT_TRUE(has("Стиль: Как сказал"));
    typing("  sk-pasted \n");
    click("Естественный");
    EXPECT_EQ(storedKey(), "sk-pasted");
    EXPECT_TRUE(has("Стиль: Естественный"));
    click("Деловой");
    EXPECT_EQ(dialogs, 2);

    // The key item: an emptied field removes the key. English then asks when turned on, never when off.
    typing("");
    click("Ключ ИИ задан…");
    EXPECT_EQ(storedKey(), std::nullopt);
    typing("sk-second");
    click("Переводить на английский");
    EXPECT_TRUE(has("Стиль: Деловой, на английском"));
    typing("");
    click("Ключ ИИ задан…");
    click("Переводить на английский");
    EXPECT_TRUE(has("[ ] Переводить на английский"));
    EXPECT_EQ(dialogs, 5);

    // The AI switch without a key: on only when a key results; with one it just switches.
    typing("   ");
    click("Исправлять оговорки через ИИ (нужен ключ)");
    EXPECT_TRUE(has("[ ] Исправлять оговорки через ИИ (нужен ключ)"));
    typing("sk-third");
    click("Исправлять оговорки через ИИ (нужен ключ)");
    EXPECT_TRUE(has("[x] Исправлять оговорки через ИИ"));
    click("Исправлять оговорки через ИИ");
    EXPECT_TRUE(has("[ ] Исправлять оговорки через ИИ"));
    EXPECT_EQ(dialogs, 7);
}

TEST_F(AppDelegateTest, AServerOnThisMachineIsCheckedAndSavedInTheServiceDialogAndNeedsNoKey) {
    testsupport::LoopbackServer server;
    launch();
    EXPECT_TRUE(has("[ ] Исправлять оговорки через ИИ (нужен ключ)"));
    std::vector<std::string> said;
    ui::AiServiceDialog::chooser = [&](ui::AiServiceDialog::Form& form) {
        said.push_back(form.status->text().toStdString());
        form.ownServer->setChecked(true);
        form.model->setText("qwen");
        // First plain http elsewhere, which the save refuses; then the local server, checked first.
        if (said.size() == 1) {
            form.url->setText("http://[::ffff:127.0.0.1]:9");
            return ui::AiServiceDialog::Button::save;
        }
        form.url->setText(QString::fromStdString(server.url()));
        form.buttons[2]->click();
        pumpUntil([&] { return form.status->text().startsWith("Сервер"); });
        said.push_back(form.status->text().toStdString());
        return ui::AiServiceDialog::Button::save;
    };
    click("Сервис ИИ…");
    ASSERT_EQ(said.size(), 3u);
    EXPECT_NE(said[1].find("не подходит: без https"), std::string::npos) << said[1];
    EXPECT_EQ(said[2], "Сервер ответил: «готово»");
    EXPECT_EQ(server.chatRequests().size(), 1u);

    // Without a key every feature is on offer, and a style asks for none.
    EXPECT_TRUE(has("[x] Исправлять оговорки через ИИ"));
    EXPECT_FALSE(has("Стили и перевод делает ИИ: нужен ключ"));
    click("Деловой");
    EXPECT_TRUE(has("Стиль: Деловой"));
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(core::Defaults::standard().string("aiURL"), server.url());
}

TEST_F(AppDelegateTest, LaunchAtLoginIsSwitchedFromTheMenuAndAFailureIsSaid) {
    launch(speech::ModelState::downloading(0.5));
    const auto file = platform::lnx::Autostart::userFile();
    click("Запускать при входе");
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_TRUE(has("[x] Запускать при входе"));
    click("Запускать при входе");
    EXPECT_FALSE(std::filesystem::exists(file));

    std::filesystem::remove_all(home.configHome() / "autostart");
    testsupport::writeFile(home.configHome() / "autostart", "not a folder");
    click("Запускать при входе");
    EXPECT_EQ(logged().back(), "flash Не получилось: нет доступа к папке автозапуска");
    EXPECT_TRUE(has("[ ] Запускать при входе"));

    // "Выйти" ends the event loop.
    QTimer::singleShot(0, [&] { click("Выйти"); });
    QTimer::singleShot(30000, [] { QCoreApplication::exit(2); }); // only a broken test gets here
    EXPECT_EQ(QApplication::exec(), 0);
}

} // namespace

// Every Wayland session hears the trigger through the kernel; the paste keys come from our own keymap,
// else KWin's fake input, else uinput where writable, else the portal.
TEST(Backend, WaylandSessionsReadTheKernelsKeysAndPasteThroughTheBestMechanismOffered) {
    auto paste = [](std::vector<std::string> globals, bool x11, bool uinput) {
        const auto backend = app::Backend::choose({true, true, std::move(globals), x11, "", uinput});
        EXPECT_EQ(backend.mechanisms.keys, app::Backend::evdev);
        return backend.mechanisms.paste;
    };
    const std::vector<std::string> native = {"zwlr_data_control_manager_v1", "zwlr_layer_shell_v1"};
    auto with = [&](const std::string& global) {
        auto globals = native;
        globals.push_back(global);
        return globals;
    };
    EXPECT_EQ(paste(with("zwp_virtual_keyboard_manager_v1"), false, true), app::Backend::virtualKeyboard);
    EXPECT_EQ(paste(with("org_kde_kwin_fake_input"), false, true), app::Backend::fakeInput);
    EXPECT_EQ(paste(native, false, true), app::Backend::uinput);
    EXPECT_EQ(paste(native, false, false), app::Backend::portal);
    EXPECT_EQ(paste({"gtk_shell1"}, true, true), app::Backend::uinput);
    EXPECT_EQ(paste({"gtk_shell1"}, true, false), app::Backend::portal);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
