#include "Tones.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

namespace {

using testsupport::readFile;

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

TEST(TranscribeProgram, TranscribesFilesAndReportsUnreadableOnes) {
    testsupport::IsolatedHome home;
    unsetenv("RUVEX_VOICE_BPE_VOCAB");
    testsupport::TempDir dir;
    ASSERT_TRUE(tones::writeWav(dir / "speech.wav", tones::phrase("привет мир")));
    std::string command = quoted(RUVEX_VOICE_PROGRAM) + " --transcribe --model " +
                          quoted(tones::modelDirectory().string()) + " " + quoted((dir / "missing.wav").string()) +
                          " " + quoted((dir / "speech.wav").string()) + " >" + quoted((dir / "out").string()) + " 2>" +
                          quoted((dir / "err").string());
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(readFile(dir / "out"), "Привет мир\n");
    EXPECT_EQ(readFile(dir / "err"),
              "Не удалось прочитать аудиофайл «" + (dir / "missing.wav").string() + "»: файл не найден\n");
}

TEST(TranscribeProgram, ListsTheModeInItsHelp) {
    testsupport::TempDir dir;
    std::string command = quoted(RUVEX_VOICE_PROGRAM) + " --help >" + quoted((dir / "out").string());
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_NE(readFile(dir / "out").find("--transcribe"), std::string::npos);
}

} // namespace
