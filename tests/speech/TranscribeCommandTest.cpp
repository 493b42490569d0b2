#include "speech/TranscribeCommand.h"
#include "ModelTesting.h"
#include "Tones.h"
#include "support/TempDir.h"
#include "text/Transcript.h"
#include "text/Vocabulary.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using speech::TranscribeCommand::run;
using testsupport::IsolatedHome;
using testsupport::TempDir;
using testsupport::writeFile;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome transcribe(const std::vector<std::string>& arguments) {
    std::ostringstream out;
    std::ostringstream err;
    int status = run(arguments, out, err);
    return {status, out.str(), err.str()};
}

std::string expectedLine(const std::string& recognised) {
    return text::Vocabulary::load().apply(text::Transcript::cleanLocally(recognised)) + "\n";
}

class TranscribeCommand : public ::testing::Test {
protected:
    IsolatedHome home;
    modeltesting::ScopedEnv noVocab{"RUVEX_VOICE_BPE_VOCAB", std::nullopt};
    TempDir files;
};

TEST_F(TranscribeCommand, PrintsEachFileCleanedAndCorrectedWithTheDictionaryTerms) {
    text::Vocabulary::save("дон\nпривет → здравствуй\n");
    tones::copyModel(speech::TranscribeCommand::defaultModelDirectory());
    ASSERT_TRUE(tones::writeWav(files / "plain.wav", tones::phrase("привет мир как дела")));
    ASSERT_TRUE(tones::writeWav(files / "stereo48k.wav", modeltesting::ambiguousWord(), 48000, 2));
    writeFile(files / "notes.txt", "not audio");

    Outcome outcome = transcribe({(files / "plain.wav").string(), (files / "missing.wav").string(),
                                  (files / "notes.txt").string(), (files / "stereo48k.wav").string()});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, expectedLine("привет мир как дела") + expectedLine("дон"));
    EXPECT_EQ(outcome.err, "Не удалось прочитать аудиофайл «" + (files / "missing.wav").string() +
                               "»\nНе удалось прочитать аудиофайл «" + (files / "notes.txt").string() + "»\n");
    EXPECT_NE(outcome.out.find("здравствуй"), std::string::npos) << "the dictionary's replacement";
}

TEST_F(TranscribeCommand, ReportsAMissingOrBrokenModelAndBadArguments) {
    ASSERT_TRUE(tones::writeWav(files / "a.wav", tones::phrase("мир")));
    Outcome missing = transcribe({"--model", (files / "nowhere").string(), (files / "a.wav").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Модель речи не найдена: «" + (files / "nowhere").string() + "»\n");

    auto broken = files / "broken";
    tones::copyModel(broken);
    writeFile(broken / "tokens.txt", "а 0\n");
    Outcome failed = transcribe({"--model", broken.string(), (files / "a.wav").string()});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "Модель речи не загрузилась: «" + broken.string() + "»\n");

    EXPECT_EQ(transcribe({}).status, 2);
    EXPECT_EQ(transcribe({"--model"}).status, 2);
    EXPECT_EQ(transcribe({"--loud", "a.wav"}).status, 2);
}

} // namespace
