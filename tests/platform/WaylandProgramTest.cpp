// The program itself on the Wayland rigs: what `--diagnose` finds on each desktop family (on KWin
// with the program's desktop entry installed), and without any display.
#include "support/TempDir.h"
#include "support/WaylandDesktop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace wayland_desktop;
using testing::HasSubstr;
using testing::Not;

Result diagnose(const std::vector<std::string>& environment) {
    std::vector<std::string> command = {"env"};
    command.insert(command.end(), environment.begin(), environment.end());
    command.push_back(RUVEX_VOICE_PROGRAM);
    command.push_back("--diagnose");
    return run(command);
}

TEST(WaylandProgram, DiagnoseNamesWhatEachDesktopUsesAndNeverTheKey) {
    if (auto why = missing()) {
        GTEST_SKIP() << *why;
    }
    // A model folder with every file in place, as a user may bring one.
    testsupport::TempDir model;
    for (const char* file : {"tokens.txt", "encoder.int8.onnx", "decoder.onnx", "joiner.onnx"}) {
        testsupport::writeFile(model / file, "x");
    }
    const std::string secret = "sk-проверка-ключа";
    ASSERT_EQ(run({"secret-tool", "store", "--label=Ruvex Voice: ключ DeepSeek", "service", "app.ruvex.voice",
                   "account", "deepseek"},
                  secret)
                  .exitCode,
              0);
    const std::string modelDir = "RUVEX_VOICE_MODEL_DIR=" + model.path().string();
    if (compositor() == "kwin") {
        // KWin offers its fake input to the programs whose installed desktop entry asks for it.
        std::string entry = testsupport::readFile(RUVEX_DESKTOP_ENTRY);
        entry.replace(entry.find("@RUVEX_PROGRAM@"), std::string("@RUVEX_PROGRAM@").size(), RUVEX_VOICE_PROGRAM);
        testsupport::writeFile(std::string(std::getenv("XDG_DATA_HOME")) + "/applications/ruvex-voice.desktop", entry);
        ASSERT_EQ(run({"kbuildsycoca5"}, "", 60).exitCode, 0);
    }

    auto here = diagnose({modelDir});
    // KWin rereads its service cache when it next looks, which may be a moment after the rebuild.
    pumpUntil([&] {
        return compositor() != "kwin" ||
               (here = diagnose({modelDir})).out.find("Вставка: fake-input") != std::string::npos;
    });
    EXPECT_THAT(here.out, HasSubstr("Микрофон: есть\n"));
    EXPECT_THAT(here.out, HasSubstr("Модель речи: на месте"));
    EXPECT_THAT(here.out, HasSubstr("Ключ ИИ: сохранён\n"));
    EXPECT_THAT(here.out, Not(HasSubstr(secret)));
    const bool works = here.out.find("Итог: диктовка может работать\n") != std::string::npos;
    EXPECT_EQ(here.exitCode, works ? 0 : 1) << here.out;
    if (compositor() == "sway") {
        EXPECT_THAT(here.out, HasSubstr("Сеанс: Wayland, sway; свой режим (Qt на wayland)\n"));
        EXPECT_THAT(here.out, HasSubstr("Вставка: virtual-keyboard\n"));
        EXPECT_THAT(here.out, HasSubstr("Буфер обмена: wlr-data-control\n"));
        EXPECT_THAT(here.out, HasSubstr("Пилюля: layer-shell\n"));
    } else if (compositor() == "kwin") {
        EXPECT_THAT(here.out, HasSubstr("Сеанс: Wayland, KDE; свой режим (Qt на wayland)\n"));
        EXPECT_THAT(here.out, HasSubstr("Вставка: fake-input\n"));
        EXPECT_THAT(here.out, HasSubstr("Буфер обмена: wlr-data-control\n"));
        EXPECT_THAT(here.out, HasSubstr("Пилюля: layer-shell\n"));
    } else {
        EXPECT_THAT(here.out, HasSubstr("Сеанс: Wayland, GNOME; через XWayland (Qt на xcb)\n"));
        EXPECT_THAT(here.out, HasSubstr("Буфер обмена: X11 через XWayland\n"));
        EXPECT_THAT(here.out, HasSubstr("Пилюля: окно X11 через XWayland\n"));
    }

    // No display at all: the desktop parts cannot be checked, the rest still is, and it cannot work.
    auto bare = diagnose({"-u", "WAYLAND_DISPLAY", "-u", "DISPLAY", modelDir});
    EXPECT_EQ(bare.exitCode, 1);
    EXPECT_THAT(bare.out, HasSubstr("Сеанс: нет графического сеанса"));
    EXPECT_THAT(bare.out, HasSubstr("Вставка: не проверить без графического сеанса\n"));
    EXPECT_THAT(bare.out, HasSubstr("Модель речи: на месте"));
    EXPECT_THAT(bare.out, HasSubstr("Сервис ИИ: https://api.deepseek.com, модель deepseek-chat\n"));
    EXPECT_THAT(bare.out, HasSubstr("Итог: диктовка работать не будет\n"));
    run({"secret-tool", "clear", "service", "app.ruvex.voice", "account", "deepseek"});
}

} // namespace
