#include "speech/TranscribeCommand.h"
#include "ModelTesting.h"
#include "Tones.h"
#include "speech/AudioFile.h"
#include "support/TempDir.h"
#include "text/Transcript.h"
#include "text/Vocabulary.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using speech::TranscribeCommand::run;
using testsupport::IsolatedHome;
using testsupport::readFile;
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
                               "»: файл не найден\nНе удалось прочитать аудиофайл «" + (files / "notes.txt").string() +
                               "»: формат не распознан\n");
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

// A FLAC file of 0.1 s whose header claims 2^36 - 1 samples (the 36-bit total of its stream info).
std::string overstatedFlac(const std::filesystem::path& file) {
    SF_INFO info{};
    info.samplerate = 16000;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* sound = sf_open(file.c_str(), SFM_WRITE, &info);
    auto samples = tones::tone(tones::position("а"));
    sf_writef_float(sound, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(sound);
    std::string data = readFile(file);
    data[21] = static_cast<char>(data[21] | 0x0F);
    data.replace(22, 4, "\xFF\xFF\xFF\xFF");
    return data;
}

// A 16-bit mono WAV whose header names `rate` (the samples are not resampled to it).
std::string wavAtRate(const std::filesystem::path& file, uint32_t rate, const tones::Samples& samples) {
    tones::writeWav(file, samples);
    std::string data = readFile(file);
    for (int i = 0; i < 4; ++i) {
        data[24 + i] = static_cast<char>(rate >> (8 * i));
        data[28 + i] = static_cast<char>((rate * 2) >> (8 * i)); // bytes per second
    }
    return data;
}

TEST(AudioFile, ReadsTheDataThereIsAndRefusesAFileLongerThanTheLimit) {
    TempDir dir;
    writeFile(dir / "claims-hours.flac", overstatedFlac(dir / "claims-hours.flac"));
    auto read = speech::readAudio(dir / "claims-hours.flac");
    ASSERT_TRUE(read) << read.failure;
    EXPECT_EQ(read.samples.size(), tones::tone(0).size());

    ASSERT_TRUE(tones::writeWav(dir / "two-seconds.wav", tones::silence(2), 8000, 3));
    EXPECT_EQ(speech::readAudio(dir / "two-seconds.wav", 2).samples.size(), 32000u) << "resampled and mixed down";
    auto tooLong = speech::readAudio(dir / "two-seconds.wav", 1.5);
    EXPECT_EQ(tooLong.failure, "запись длиннее 1 с");
    EXPECT_TRUE(tooLong.samples.empty());
}

TEST(AudioFile, RefusesImplausibleRatesAndFilesThatAreNotRegular) {
    TempDir dir;
    auto said = tones::phrase("да");
    for (uint32_t rate : {1u, 3999u, 384001u, 0x7FFFFFFFu}) {
        writeFile(dir / "rate.wav", wavAtRate(dir / "rate.wav", rate, said));
        EXPECT_EQ(speech::readAudio(dir / "rate.wav").failure,
                  "частота дискретизации " + std::to_string(rate) + " Гц вне допустимых 4–384 кГц");
    }
    for (uint32_t rate : {4000u, 384000u}) {
        writeFile(dir / "rate.wav", wavAtRate(dir / "rate.wav", rate, said));
        EXPECT_TRUE(speech::readAudio(dir / "rate.wav")) << rate;
    }

    // A pipe: the test holds both ends, so an open that waited for a writer would not hang, and
    // the whole file is in the pipe, so a reader that took it would succeed.
    ASSERT_TRUE(tones::writeWav(dir / "whole.wav", said));
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    int pipe = ::open((dir / "pipe.wav").c_str(), O_RDWR | O_NONBLOCK);
    std::string whole = readFile(dir / "whole.wav");
    ASSERT_EQ(::write(pipe, whole.data(), whole.size()), static_cast<ssize_t>(whole.size()));
    EXPECT_EQ(speech::readAudio(dir / "pipe.wav").failure, "это не обычный файл");
    ::close(pipe);
    EXPECT_EQ(speech::readAudio(dir.path()).failure, "это не обычный файл");
}

} // namespace
