// The real program on the Wayland rigs: its trigger key on a FIFO of input_event records
// (RUVEX_VOICE_INPUT_DEVICE), the tone speech through the virtual microphone, the text into a native
// Wayland Qt field; what `--diagnose` finds on each desktop family (on KWin with the program's
// desktop entry installed, on Mutter with a RemoteDesktop portal on the bus), and without a display.
#include "Tones.h"
#include "fakes/FakeRemoteDesktopPortal.h"
#include "platform/linux/AtspiFocusedWindow.h"
#include "support/Desktop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>

namespace {

using namespace desktop;
using testing::HasSubstr;
using testing::Not;

// The portal on Mutter: what GNOME's does when the user has agreed, without the dialog.
std::unique_ptr<fakes::FakeRemoteDesktopPortal> portalOnMutter() {
    return compositor() == "mutter"
               ? std::make_unique<fakes::FakeRemoteDesktopPortal>(std::getenv("DBUS_SESSION_BUS_ADDRESS"), 2, true)
               : nullptr;
}

testsupport::Finished diagnose(std::vector<std::string> settings) {
    settings.insert(settings.begin(), "env");
    settings.insert(settings.end(), {RUVEX_VOICE_PROGRAM, "--diagnose"});
    return runTool(settings);
}

// On KWin: the program's desktop entry installed, as the package does, so that KWin offers it its
// fake input (KWin rereads its service cache when it next looks, which may be a moment later).
void authoriseOnKwin() {
    if (compositor() != "kwin")
        return;
    std::string entry = testsupport::readFile(RUVEX_DESKTOP_ENTRY);
    entry.replace(entry.find("@RUVEX_PROGRAM@"), std::string("@RUVEX_PROGRAM@").size(), RUVEX_VOICE_PROGRAM);
    testsupport::writeFile(std::string(std::getenv("XDG_DATA_HOME")) + "/applications/ruvex-voice.desktop", entry);
    ASSERT_EQ(runTool({"kbuildsycoca5"}).status, 0);
    ASSERT_TRUE(pumpUntil([] { return diagnose({}).out.find("Вставка: fake-input\n") != std::string::npos; }));
}

class WaylandProgram : public testing::Test {
protected:
    void SetUp() override {
        if (auto why = missingWayland())
            GTEST_SKIP() << *why;
        ASSERT_EQ(mkfifo(keyboard.c_str(), 0600), 0);
    }
    // A key goes down or up on the keyboard the program reads, one writer per report.
    void key(unsigned short code, bool down) {
        input_event records[2] = {};
        records[0].type = EV_KEY;
        records[0].code = code;
        records[0].value = down;
        records[1].type = EV_SYN;
        const int fd = open(keyboard.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0) << "the program does not read " << keyboard;
        EXPECT_EQ(write(fd, records, sizeof records), static_cast<ssize_t>(sizeof records));
        close(fd);
    }

    testsupport::TempDir dir;
    const std::string keyboard = (dir / "keyboard").string();
    const std::string device = "RUVEX_VOICE_INPUT_DEVICE=" + keyboard;
};

// One dictation into a native Wayland field after its word, with another program's text on the
// clipboard: on sway through our virtual keyboard and data-control; on KWin through its fake input
// (with a layout without Latin letters in the rig: Shift+Insert); on Mutter through the portal and the
// X11 clipboard that XWayland bridges.
TEST_F(WaylandProgram, SpeechLandsAfterTheFieldsWordAndTheClipboardIsGivenBack) {
    const bool x11 = compositor() == "mutter";
    auto portal = portalOnMutter();
    authoriseOnKwin();
    testsupport::Process owner(x11 ? std::vector<std::string>{"xclip", "-quiet", "-selection", "clipboard", "-i"}
                                   : std::vector<std::string>{"wl-copy", "--foreground", "в буфере"});
    owner.write(x11 ? "в буфере" : "", true);
    auto clipboard = [x11] { return x11 ? selectionTarget("UTF8_STRING") : pasted("text/plain;charset=utf-8"); };
    ASSERT_TRUE(pumpUntil([&] { return clipboard() == "в буфере"; }));
    tones::Samples speech = tones::phrase("съешь же ещё этих мягких");
    tones::append(speech, tones::silence(0.5));
    ASSERT_TRUE(tones::writeWav(dir / "speech.wav", speech));

    TrayProgram tray(tones::modelDirectory(), true, {device});
    tray.trigger = [this](bool down) { key(KEY_RIGHTALT, down); };
    ASSERT_TRUE(tray.waitForLine("engine loaded"));
    TextTarget target;
    ASSERT_TRUE(target.focused());
    target.setText("Слово");
    ASSERT_TRUE(tray.dictate(dir / "speech.wav"));
    EXPECT_EQ(target.waitForText("Слово Съешь же ещё этих мягких", 30), "Слово Съешь же ещё этих мягких");
    EXPECT_TRUE(pumpUntil([&] { return clipboard() == "в буфере"; })) << clipboard().value_or("<empty>");
    // The pill came and went without taking the focus.
    EXPECT_TRUE(pumpUntil([&] {
        auto active = platform::lnx::AtspiFocusedWindow::fromAccessibility();
        return active && active->processId == target.process().pid();
    }));
}

TEST_F(WaylandProgram, DiagnoseNamesWhatEachDesktopUsesAndNeverTheKey) {
    // A model folder with every file in place, as a user may bring one.
    testsupport::TempDir model;
    for (const char* file : {"tokens.txt", "encoder.int8.onnx", "decoder.onnx", "joiner.onnx"})
        testsupport::writeFile(model / file, "x");
    const std::string secret = "sk-проверка-ключа";
    ASSERT_EQ(runTool({"secret-tool", "store", "--label=Ruvex Voice: ключ DeepSeek", "service", "app.ruvex.voice",
                       "account", "deepseek"},
                      secret)
                  .status,
              0);
    const std::string modelDir = "RUVEX_VOICE_MODEL_DIR=" + model.path().string();
    auto portal = portalOnMutter();
    authoriseOnKwin();
    auto here = diagnose({device, modelDir});
    EXPECT_EQ(here.status, 0) << here.out;
    EXPECT_THAT(here.out, HasSubstr("Клавиша: evdev (" + keyboard +
                                    ", из RUVEX_VOICE_INPUT_DEVICE), клавиатур: 1, "
                                    "читаются\n"));
    EXPECT_THAT(here.out, HasSubstr("Микрофон: есть\n"));
    EXPECT_THAT(here.out, HasSubstr("Ключ ИИ: сохранён\n"));
    EXPECT_THAT(here.out, Not(HasSubstr(secret)));
    const std::map<std::string, std::vector<std::string>> expected = {
        {"sway",
         {"Сеанс: Wayland, sway; свой режим (Qt на wayland)", "Вставка: virtual-keyboard",
          "Буфер обмена: wlr-data-control", "Пилюля: layer-shell"}},
        {"kwin",
         {"Сеанс: Wayland, KDE; свой режим (Qt на wayland)", "Вставка: fake-input", "Буфер обмена: wlr-data-control",
          "Пилюля: layer-shell"}},
        {"mutter",
         {"Сеанс: Wayland, GNOME; через XWayland (Qt на xcb)",
          "Вставка: портал RemoteDesktop (версия 2): разрешение спросят при первой вставке",
          "Буфер обмена: X11 через XWayland", "Пилюля: окно X11 через XWayland"}},
    };
    for (const auto& line : expected.at(compositor()))
        EXPECT_THAT(here.out, HasSubstr(line + "\n"));

    // No keyboard readable, or no display at all: dictation cannot work, and the lines say why.
    auto deaf = diagnose({"RUVEX_VOICE_INPUT_DEVICE=" + (dir / "absent").string(), modelDir});
    EXPECT_EQ(deaf.status, 1);
    EXPECT_THAT(deaf.out, HasSubstr("клавиатур: 0, клавиатура не видна системе\n"));
    auto bare = diagnose({"-u", "WAYLAND_DISPLAY", "-u", "DISPLAY", modelDir});
    EXPECT_EQ(bare.status, 1);
    EXPECT_THAT(bare.out, HasSubstr("Сеанс: нет графического сеанса"));
    EXPECT_THAT(bare.out, HasSubstr("Вставка: не проверить без графического сеанса\n"));
    EXPECT_THAT(bare.out, HasSubstr("Модель речи: на месте"));
    EXPECT_THAT(bare.out, HasSubstr("Сервис ИИ: https://api.deepseek.com, модель deepseek-chat\n"));
    runTool({"secret-tool", "clear", "service", "app.ruvex.voice", "account", "deepseek"});
}

} // namespace
