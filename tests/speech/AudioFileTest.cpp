#include "speech/AudioFile.h"

#include "Tones.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

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
