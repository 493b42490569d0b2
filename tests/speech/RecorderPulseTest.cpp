// The recorder on the real PulseAudio server of scripts/rig.sh: a Russian phrase spoken by
// espeak-ng is played into the virtual microphone while the recorder captures it.
#include "speech/Recorder.h"

#include "core/RunLoop.h"
#include "platform/linux/PulseAudioSource.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <signal.h>
#include <string>
#include <thread>
#include <vector>

using platform::MicrophoneState;
using platform::lnx::PulseAudioSource;
using speech::Recorder;

namespace {

constexpr std::size_t chunk = 320;   // the source's 20 ms fragment
constexpr float speechLevel = 0.02f; // a sample this loud is speech, not silence

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::vector<float> readFloats(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<float> samples;
    float sample = 0;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample))
        samples.push_back(sample);
    return samples;
}

// The first and one past the last sample louder than speechLevel.
std::optional<std::pair<std::size_t, std::size_t>> speechSpan(const std::vector<float>& samples) {
    auto loud = [](float sample) { return std::fabs(sample) > speechLevel; };
    auto first = std::find_if(samples.begin(), samples.end(), loud);
    if (first == samples.end())
        return std::nullopt;
    auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
    return std::pair<std::size_t, std::size_t>(first - samples.begin(), samples.rend() - last);
}

class RecorderPulseTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("PULSE_SERVER") == nullptr) {
            GTEST_SKIP() << "needs the PulseAudio server of scripts/rig.sh (make test runs it)";
        }
    }
};

} // namespace

TEST_F(RecorderPulseTest, RecordsAPhrasePlayedIntoTheMicrophoneAt16kHzMono) {
    testsupport::TempDir dir;
    const auto wav = dir / "phrase.wav";
    const auto reference = dir / "phrase.f32";
    ASSERT_TRUE(run("espeak-ng -v ru -w '" + wav.string() + "' 'Привет, это проверка записи с микрофона.'"));
    ASSERT_TRUE(
        run("sox '" + wav.string() + "' -t raw -e floating-point -b 32 -r 16000 -c 1 '" + reference.string() + "'"));
    const auto expected = speechSpan(readFloats(reference));
    ASSERT_TRUE(expected.has_value());

    core::RunLoop loop;
    std::vector<float> recorded; // main thread
    std::vector<std::size_t> sizes;
    float loudest = 0;
    std::size_t chunksAtStop = 0;
    bool stopped = false;
    std::atomic<bool> offQueue{false};
    std::atomic<bool> afterStop{false};
    std::atomic<bool> stopRan{false};
    {
        Recorder recorder(loop, std::make_unique<PulseAudioSource>());
        recorder.onSamples = [&](const std::vector<float>& samples) {
            offQueue = offQueue || !recorder.queue().isCurrent();
            afterStop = afterStop || stopRan;
            loop.post([&, samples] {
                recorded.insert(recorded.end(), samples.begin(), samples.end());
                sizes.push_back(samples.size());
            });
        };
        recorder.onLevel = [&](float level) { loudest = std::max(loudest, level); };
        recorder.start();

        std::atomic<bool> played{false};
        std::thread player([&] {
            EXPECT_TRUE(run("paplay --device=vmic_out '" + wav.string() + "'"));
            played = true;
        });
        loop.runUntil([&] { return played.load(); });
        player.join();
        // The last sound is still on its way through the server: take ten more chunks of silence.
        const std::size_t playedUntil = sizes.size();
        loop.runUntil([&] { return sizes.size() >= playedUntil + 10; });

        recorder.stop([&] {
            stopRan = true;
            loop.post([&] {
                chunksAtStop = sizes.size();
                stopped = true;
            });
        });
        loop.runUntil([&] { return stopped; });
    }
    loop.runFor(0.05);

    EXPECT_FALSE(offQueue);
    EXPECT_FALSE(afterStop);
    EXPECT_EQ(chunksAtStop, sizes.size());
    EXPECT_TRUE(std::all_of(sizes.begin(), sizes.end(), [](std::size_t n) { return n > 0; }));
    EXPECT_GT(loudest, speechLevel);

    // At 16 kHz mono the phrase takes as many samples as the file converted to 16 kHz mono; a
    // wrong rate or interleaved stereo would stretch it.
    const auto heard = speechSpan(recorded);
    ASSERT_TRUE(heard.has_value()) << "no speech in " << recorded.size() << " samples";
    const auto expectedLength = static_cast<long>(expected->second - expected->first);
    const auto heardLength = static_cast<long>(heard->second - heard->first);
    EXPECT_LE(std::labs(heardLength - expectedLength), static_cast<long>(2 * chunk))
        << "expected " << expectedLength << " samples of speech, heard " << heardLength;
    EXPECT_GT(recorded.size(), expected->second - expected->first);
}

TEST_F(RecorderPulseTest, AvailabilityFollowsTheDefaultSource) {
    EXPECT_EQ(PulseAudioSource::microphoneState(), MicrophoneState::available);

    ASSERT_TRUE(run("pactl set-source-mute vmic 1"));
    EXPECT_EQ(PulseAudioSource::microphoneState(), MicrophoneState::muted);
    ASSERT_TRUE(run("pactl set-source-mute vmic 0"));

    ASSERT_TRUE(run("pactl set-default-source vmic_out.monitor"));
    EXPECT_EQ(PulseAudioSource::microphoneState(), MicrophoneState::monitor);
    ASSERT_TRUE(run("pactl set-default-source vmic"));

    EXPECT_EQ(PulseAudioSource::microphoneState(), MicrophoneState::available);
}

TEST_F(RecorderPulseTest, NoServerMeansTheMicrophoneErrorAndNothingStarted) {
    testsupport::TempDir dir;
    const std::string missing = "unix:" + (dir / "no-such-socket").string();
    struct Restore {
        std::string server;
        ~Restore() { setenv("PULSE_SERVER", server.c_str(), 1); }
    } restore{std::getenv("PULSE_SERVER")}; // set: SetUp skips otherwise
    setenv("PULSE_SERVER", missing.c_str(), 1);

    EXPECT_EQ(PulseAudioSource::microphoneState(), MicrophoneState::noServer);
    core::RunLoop loop;
    Recorder recorder(loop, std::make_unique<PulseAudioSource>());
    EXPECT_THROW(recorder.start(), Recorder::Failure);
    bool stopped = false;
    recorder.stop([&] { stopped = true; });
    recorder.queue().sync([] {});
    EXPECT_TRUE(stopped) << "stopping a recorder that never started still completes";
}

TEST_F(RecorderPulseTest, AHungServerMeansTheMicrophoneErrorInsteadOfAHang) {
    const char* pid = std::getenv("RUVEX_RIG_PULSEAUDIO_PID");
    if (pid == nullptr)
        GTEST_SKIP() << "needs the PID of the rig's PulseAudio server";
    const pid_t server = static_cast<pid_t>(std::stol(pid));
    ASSERT_EQ(kill(server, SIGSTOP), 0);
    struct Continue {
        pid_t server;
        ~Continue() { kill(server, SIGCONT); }
    } resume{server};

    EXPECT_EQ(PulseAudioSource::microphoneState(), MicrophoneState::noServer);
    core::RunLoop loop;
    Recorder recorder(loop, std::make_unique<PulseAudioSource>());
    EXPECT_THROW(recorder.start(), Recorder::Failure);
}
