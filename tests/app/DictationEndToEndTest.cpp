// The real program on the test desktop: the trigger key through XTest, speech (the synthetic tone
// model's alphabet) through the virtual microphone, the text into a Qt line edit.
#include "FakeWatcher.h"
#include "Tones.h"
#include "TrayProgram.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

const std::string firstPiece = "съешь же ещё этих мягких";
const std::string secondPiece = "французских булок да выпей чаю";

/// Two pieces of speech with a pause between them long enough to be cut there, as the WAV to play.
std::filesystem::path twoPieces(const testsupport::TempDir& dir) {
    tones::Samples audio = tones::phrase(firstPiece);
    tones::append(audio, tones::silence(1.0));
    tones::append(audio, tones::phrase(secondPiece));
    tones::append(audio, tones::silence(0.5));
    auto file = dir / "speech.wav";
    tones::writeWav(file, audio);
    return file;
}

/// The trigger down and up again at once, from one XTest client.
void tap() {
    desktop::runTool("xdotool", {"keydown", "108", "keyup", "108"});
}

std::optional<std::string> clipboardText() {
    return desktop::selectionTarget("UTF8_STRING");
}

class DictationEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto missing = desktop::missingDisplay())
            GTEST_SKIP() << *missing;
        if (auto missing = desktop::missingAccessibilityBus())
            GTEST_SKIP() << *missing;
        if (!std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "no sound server (run under scripts/rig.sh)";
    }
    testsupport::TempDir dir;
};

} // namespace

TEST_F(DictationEndToEnd, SpokenPiecesArriveInTheFocusedFieldAndTheClipboardIsKept) {
    TrayProgram tray(tones::modelDirectory());
    ASSERT_TRUE(tray.waitForLine("engine loaded")) << "the engine did not load";
    desktop::TextTarget target;
    target.setText("Слово");
    QGuiApplication::clipboard()->setText(QStringLiteral("прежнее"));
    ASSERT_TRUE(desktop::pumpUntil([] { return clipboardText() == "прежнее"; }));

    ASSERT_TRUE(tray.dictate(twoPieces(dir), "dictation-listening"));
    const std::string expected = "Слово Съешь же ещё этих мягких французских булок да выпей чаю";
    EXPECT_EQ(target.waitForText(expected, 30), expected);
    // The user's clipboard is put back after the paste.
    EXPECT_TRUE(desktop::pumpUntil([] { return clipboardText() == "прежнее"; }, 10)) << clipboardText().value_or("");

    // A tap shorter than the minimum hold inserts nothing and says nothing.
    const std::size_t before = tray.lines().size();
    tap();
    // A second, longer hold proves the tap has been handled; it too inserts nothing (only silence).
    ASSERT_TRUE(tones::writeWav(dir / "quiet.wav", tones::silence(0.5)));
    ASSERT_TRUE(tray.dictate(dir / "quiet.wav"));
    ASSERT_TRUE(tray.waitForLine("flash Не расслышал", before));
    screenshot("dictation-message");
    auto lines = tray.lines();
    const std::vector<std::string> after(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end());
    EXPECT_EQ(after, (std::vector<std::string>{"hide", "listening", "thinking", "flash Не расслышал"}));
    EXPECT_EQ(target.waitForText(expected, 1), expected);
}

TEST_F(DictationEndToEnd, ADictionarySavedInTheEditorAppliesToTheNextDictation) {
    FakeWatcher watcher;
    ASSERT_TRUE(watcher.registered());
    TrayProgram tray(tones::modelDirectory());
    ASSERT_TRUE(tray.waitForLine("engine loaded"));
    ASSERT_TRUE(desktop::pumpUntil([&] { return watcher.item().has_value(); })) << "no tray item registered";
    TrayMenu menu(*watcher.item());
    ASSERT_TRUE(menu.click("Словарь…")) << menu.layout();

    // The editor opens with the keyboard focus in its text: replace the text through the clipboard
    // and save with the editor's shortcut.
    ASSERT_TRUE(desktop::waitForFocus("ruvex-voice"));
    QGuiApplication::clipboard()->setText(QStringLiteral("# Мой словарь\nкаша\nмягких → свежих\n"));
    desktop::runTool("xdotool", {"key", "ctrl+a", "ctrl+v"});
    desktop::pumpFor(0.3);
    screenshot("dictionary-editor");
    const std::size_t before = tray.lines().size();
    desktop::runTool("xdotool", {"key", "ctrl+s"});
    ASSERT_TRUE(tray.waitForLine("flash Словарь сохранен", before));
    EXPECT_EQ(testsupport::readFile(tray.dataHome() / "Ruvex Voice" / "Словарь.txt"),
              "# Мой словарь\nкаша\nмягких → свежих\n");
    EXPECT_TRUE(menu.has("Словарь (2)…"));
    // A new term reloads the engine with it; dictation goes on with the new one.
    ASSERT_TRUE(tray.waitForLine("engine loaded", before));
    EXPECT_EQ(testsupport::readFile(tray.dataHome() / "Ruvex Voice" / "terms.txt"), "каша\n");

    desktop::TextTarget target;
    ASSERT_TRUE(tray.dictate(twoPieces(dir)));
    const std::string expected = "Съешь же ещё этих свежих французских булок да выпей чаю";
    EXPECT_EQ(target.waitForText(expected, 30), expected);

    // "Выйти" ends the program.
    ASSERT_TRUE(menu.click("Выйти"));
    EXPECT_TRUE(desktop::pumpUntil([&] { return tray.program().finished(); }, 10));
}

TEST_F(DictationEndToEnd, ADamagedModelLeavesTheProgramRunningAndSaysSo) {
    tones::copyModel(dir / "model");
    testsupport::writeFile(dir / "model" / "encoder.int8.onnx", "not a model");
    TrayProgram tray(dir / "model");
    ASSERT_TRUE(tray.waitForLine("engine failed: Модель речи не загрузилась"));
    const std::size_t before = tray.lines().size();
    tap();
    EXPECT_TRUE(tray.waitForLine("flash Модель речи не загрузилась", before));
    EXPECT_FALSE(tray.program().finished());

    // A second copy started meanwhile says so in one line and leaves the first one alone.
    QProcess second;
    second.start(QString::fromStdString(RUVEX_VOICE_PROGRAM), {});
    const bool ended = second.waitForFinished(10000);
    if (!ended)
        second.kill();
    ASSERT_TRUE(ended) << "a second copy kept running";
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(second.readAllStandardError().toStdString(), "Ruvex Voice уже запущен.\n");
    EXPECT_EQ(second.readAllStandardOutput().toStdString(), "");
    EXPECT_FALSE(tray.program().finished());
}

TEST_F(DictationEndToEnd, TheFirstStartOpensTheFirstRunWindowAndSaysWhatTheModelFolderLacks) {
    std::filesystem::create_directories(dir / "empty");
    TrayProgram tray(dir / "empty", false);
    ASSERT_TRUE(desktop::waitForFocus("ruvex-voice")) << "the first-run window did not open";
    const std::string lacking =
        "flash Модель речи не скачалась: в папке " + (dir / "empty").string() + " нет файлов модели";
    ASSERT_TRUE(tray.waitForLine(lacking));
    desktop::pumpFor(0.6); // the window's half-second refresh shows the model row's state
    screenshot("first-run-window");
    const std::size_t before = tray.lines().size();
    tap();
    EXPECT_TRUE(tray.waitForLine("flash Модель речи не скачалась: повторите из меню", before));
    EXPECT_EQ(tray.lines().front(), lacking) << "no download is announced for a folder the user brings";
}
