#include "GuiTest.h"

#include "support/TempDir.h"
#include "ui/Onboarding.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using ui::Onboarding;
using Microphone = ui::Onboarding::Microphone;
using State = speech::ModelStore::State;

namespace {

class OnboardingTest : public ::testing::Test {
protected:
    OnboardingTest() {
        window.status = [this] { return snapshot; };
        window.microphone = [this] { return mic; };
        window.onRetryDownload = [this] { calls.push_back("retry"); };
        window.onAskAccessibility = [this] { calls.push_back("accessibility"); };
        window.onAskMicrophone = [this] { calls.push_back("microphone"); };
        window.onFinish = [this] { calls.push_back("finish"); };
        window.onKeyChange = [this](app::TriggerKey key) { calls.push_back("key " + std::string(key.rawValue())); };
    }

    std::string detail(const std::string& key) const { return window.row(key).detail->text().toStdString(); }
    std::string symbol(const std::string& key) const { return window.row(key).symbol.toStdString(); }
    bool buttonShown(const std::string& key) const { return !window.row(key).button->isHidden(); }
    std::string hint() const { return window.tryHint()->text().toStdString(); }

    testsupport::IsolatedHome home;
    Onboarding::Status snapshot;
    Microphone mic = Microphone::ready;
    std::vector<std::string> calls;
    Onboarding window;
};

TEST_F(OnboardingTest, ModelRowFollowsTheDownload) {
    snapshot.model = State::downloading(0.995);
    window.show();
    ASSERT_NE(window.window(), nullptr);
    EXPECT_EQ(window.window()->windowTitle(), "Ruvex Voice");
    EXPECT_EQ(window.window()->width(), 560);
    EXPECT_EQ(detail("model"), "Скачивается: 99% из 232 МБ. Один раз, дальше без интернета.");
    EXPECT_EQ(symbol("model"), "arrow.down.circle");
    EXPECT_FALSE(buttonShown("model"));

    snapshot.model = State::downloading(0.427);
    window.refresh();
    EXPECT_EQ(detail("model"), "Скачивается: 42% из 232 МБ. Один раз, дальше без интернета.");

    snapshot.model = State::failed("нет соединения с сервером");
    window.refresh();
    EXPECT_EQ(detail("model"), "Не скачалась: нет соединения с сервером");
    EXPECT_EQ(symbol("model"), "circle");
    EXPECT_TRUE(buttonShown("model"));
    EXPECT_EQ(window.row("model").button->text(), "Повторить");
    window.row("model").button->click();
    EXPECT_EQ(calls, std::vector<std::string>{"retry"});

    snapshot.model = State::ready();
    window.refresh();
    EXPECT_EQ(detail("model"), "Загружается…");
    EXPECT_EQ(symbol("model"), "arrow.down.circle");
    EXPECT_FALSE(buttonShown("model"));

    // The half-second refresh picks up the loaded engine by itself.
    snapshot.engineReady = true;
    ASSERT_TRUE(guitest::processUntil([&] { return symbol("model") == "checkmark.circle.fill"; }));
    EXPECT_EQ(detail("model"), "Скачана. Все работает без интернета.");
    EXPECT_FALSE(buttonShown("model"));
    EXPECT_EQ(window.row("model").mark->accessibleName(), "готово");
}

TEST_F(OnboardingTest, MicrophoneAndKeyboardRows) {
    snapshot.trusted = true;
    window.show();
    EXPECT_EQ(symbol("mic"), "checkmark.circle.fill");
    EXPECT_FALSE(buttonShown("mic"));
    EXPECT_EQ(detail("mic"), "Ruvex Voice слушает, только пока вы держите клавишу.");
    EXPECT_EQ(symbol("keys"), "checkmark.circle.fill");
    EXPECT_FALSE(buttonShown("keys"));
    EXPECT_EQ(detail("keys"), "Включен: Ruvex Voice замечает клавишу и вставляет текст.");

    mic = Microphone::notAsked;
    window.refresh();
    EXPECT_EQ(symbol("mic"), "circle");
    EXPECT_EQ(window.row("mic").button->text(), "Разрешить");
    window.row("mic").button->click();
    EXPECT_EQ(calls, std::vector<std::string>{"microphone"});

    mic = Microphone::unavailable;
    window.soundSettings.reset();
    window.refresh();
    EXPECT_EQ(detail("mic"), "Микрофон не найден или выключен. Проверьте настройки звука.");
    EXPECT_FALSE(buttonShown("mic")) << "no known sound settings";

    // With a sound settings program, the button starts it.
    testsupport::TempDir bin;
    const auto marker = bin / "opened";
    testsupport::writeFile(bin / "pavucontrol", "#!/bin/sh\necho \"$@\" > '" + marker.string() + "'\n");
    std::filesystem::permissions(bin / "pavucontrol", std::filesystem::perms::owner_all);
    const std::string oldPath = std::getenv("PATH");
    setenv("PATH", (bin.path().string() + ":" + oldPath).c_str(), 1);
    window.soundSettings = Onboarding::findSoundSettings();
    setenv("PATH", oldPath.c_str(), 1);
    ASSERT_TRUE(window.soundSettings);
    EXPECT_EQ(window.soundSettings->front().toStdString(), (bin / "pavucontrol").string());
    window.refresh();
    EXPECT_TRUE(buttonShown("mic"));
    EXPECT_EQ(window.row("mic").button->text(), "Открыть настройки");
    window.row("mic").button->click();
    EXPECT_TRUE(guitest::processUntil([&] { return std::filesystem::exists(marker); }));

    snapshot.trusted = false;
    window.refresh();
    EXPECT_EQ(symbol("keys"), "circle");
    EXPECT_TRUE(buttonShown("keys"));
    window.row("keys").button->click();
    EXPECT_EQ(calls.back(), "accessibility");
}

TEST_F(OnboardingTest, HintKeyChoiceAndTryArea) {
    snapshot.trusted = true;
    snapshot.model = State::ready();
    window.show();
    EXPECT_EQ(hint(), "Когда все отметки выше будут стоять, зажмите правый Alt и скажите что-нибудь: текст "
                      "появится здесь.");
    snapshot.engineReady = true;
    window.refresh();
    EXPECT_EQ(hint(), "Нажмите в поле ниже, зажмите правый Alt и скажите: «Привет, это проверка». Отпустите "
                      "клавишу.");

    QComboBox* popup = window.keyPopup();
    ASSERT_EQ(popup->count(), 2);
    EXPECT_EQ(popup->itemText(0), "Правый Alt");
    EXPECT_EQ(popup->itemText(1), "Правый Super");
    EXPECT_EQ(popup->currentIndex(), 0);
    popup->setCurrentIndex(1);
    emit popup->activated(1);
    EXPECT_EQ(app::TriggerKey::saved(), app::TriggerKey::rightCommand) << "stored at once";
    EXPECT_EQ(calls, std::vector<std::string>{"key rightCommand"});
    EXPECT_EQ(hint(), "Нажмите в поле ниже, зажмите правый Super и скажите: «Привет, это проверка». Отпустите "
                      "клавишу.");

    QTest::keyClicks(window.tryView(), "  ");
    QTest::keyClick(window.tryView(), Qt::Key_Return);
    QTest::keyClicks(window.tryView(), " ");
    ASSERT_EQ(window.tryView()->toPlainText(), "  \n ");
    EXPECT_NE(hint().find("правый Super"), std::string::npos) << "blank text changes nothing";
    QTest::keyClicks(window.tryView(), "Hello");
    const std::string success = "Получилось. Так работает в любой программе: в почте, Telegram, заметках.";
    EXPECT_EQ(hint(), success);
    window.refresh();
    EXPECT_EQ(hint(), success) << "kept while the try area holds text";
    window.tryView()->clear();
    window.refresh();
    EXPECT_NE(hint().find("правый Super"), std::string::npos);

    // A new window reads the saved key.
    Onboarding second;
    second.show();
    EXPECT_EQ(second.keyPopup()->currentIndex(), 1);
}

TEST_F(OnboardingTest, CloseAndFinish) {
    EXPECT_FALSE(Onboarding::isDone());
    window.show();
    EXPECT_TRUE(window.refreshing());
    window.window()->close();
    EXPECT_FALSE(window.refreshing());
    EXPECT_FALSE(Onboarding::isDone()) << "closing is not finishing";
    EXPECT_TRUE(calls.empty());

    window.show();
    EXPECT_TRUE(window.refreshing());
    window.keyPopup()->setFocus();
    ASSERT_TRUE(guitest::processUntil([&] { return window.keyPopup()->hasFocus(); }));
    QTest::keyClick(window.window()->windowHandle(), Qt::Key_Return);
    ASSERT_TRUE(guitest::processUntil([&] { return !calls.empty(); }));
    EXPECT_EQ(calls, std::vector<std::string>{"finish"});
    EXPECT_TRUE(Onboarding::isDone());
    EXPECT_FALSE(window.window()->isVisible());
    EXPECT_FALSE(window.refreshing());

    Onboarding::setDone(false);
    EXPECT_FALSE(Onboarding::isDone());
}

TEST_F(OnboardingTest, Screenshot) {
    snapshot.model = State::downloading(0.42);
    mic = Microphone::ready;
    snapshot.trusted = true;
    window.show();
    guitest::processUntil([&] { return window.window()->isVisible(); });
    guitest::screenshot(*window.window(), "first-run-window");
    snapshot.model = State::failed("нет соединения с сервером");
    mic = Microphone::unavailable;
    window.refresh();
    guitest::screenshot(*window.window(), "first-run-window-failed");
}

} // namespace
