// The Linux desktop services on the rig's real servers (scripts/rig.sh): the X server's raw keys, the
// keyring's Secret Service and the sound server's default microphone.
#include "core/RunLoop.h"
#include "platform/linux/LibsecretStore.h"
#include "platform/linux/PulseAudioSource.h"
#include "platform/x11/XInputKeyMonitor.h"
#include "platform/x11/XTestKeySender.h"
#include "speech/Recorder.h"
#include "support/Desktop.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using platform::MicrophoneState;
using platform::lnx::LibsecretStore;
using platform::lnx::PulseAudioSource;
using testsupport::run;

const std::string service = "app.ruvex.voice";
const std::string label = "Ruvex Voice: ключ DeepSeek";

/// Stops a rig service (SIGSTOP) for the life of the object, as a hung one holds every call.
struct Paused {
    explicit Paused(const char* variable) : pid(static_cast<pid_t>(std::stol(std::getenv(variable)))) {
        kill(pid, SIGSTOP);
    }
    ~Paused() { kill(pid, SIGCONT); }
    pid_t pid;
};

class XInputKeyMonitorTest : public testing::Test {
protected:
    void SetUp() override {
        if (auto why = desktop::missingRig())
            GTEST_SKIP() << *why;
        monitor.onKey = [this](platform::KeyEvent event) {
            seen.push_back(std::to_string(event.keycode) + (event.pressed ? "+" : "-") + (event.isModifier ? "m" : ""));
        };
    }
    // Types `keys` (xdotool commands) and returns the events ("50+m": keycode, press, modifier) before
    // the marker: key 97, released without a press, which the server reports after all typed before.
    std::string type(const std::vector<std::string>& keys) {
        std::vector<std::string> command = {"xdotool"};
        command.insert(command.end(), keys.begin(), keys.end());
        command.insert(command.end(), {"keyup", "97"});
        EXPECT_EQ(run(command).status, 0);
        loop.runUntil([this] { return !seen.empty() && seen.back().rfind("97-", 0) == 0; });
        seen.pop_back();
        std::string events;
        for (const auto& event : std::exchange(seen, {}))
            events += (events.empty() ? "" : " ") + event;
        return events;
    }
    core::RunLoop loop;
    platform::x11::XInputKeyMonitor monitor{loop};
    std::vector<std::string> seen;
};

TEST_F(XInputKeyMonitorTest, ReportsKeysWithModifiersFromTheLiveServerMap) {
    ASSERT_TRUE(monitor.start());
    ASSERT_TRUE(monitor.start()) << "a second start keeps the running monitor";
    EXPECT_EQ(type({"keydown", "50", "key", "38", "keyup", "50"}), "50+m 38+ 38- 50-m") << "each key once";
    ASSERT_EQ(run({"xmodmap", "-e", "add mod3 = F12"}).status, 0);
    const auto events = type({"key", "96"});
    run({"xmodmap", "-e", "remove mod3 = F12"});
    EXPECT_EQ(events, "96+m 96-m") << "the monitor kept the modifier map it started with";
    EXPECT_EQ(type({"key", "96"}), "96+ 96-");

    // Read by the monitor but not yet delivered when it stops: dropped.
    ASSERT_EQ(run({"xdotool", "key", "38", "keyup", "97"}).status, 0);
    monitor.stop();
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(type({"key", "50"}), "50+m 50-m");

    testsupport::ScopedEnv nowhere("DISPLAY", ":4095");
    platform::x11::XInputKeyMonitor without(loop);
    EXPECT_FALSE(without.start());
}

TEST_F(XInputKeyMonitorTest, TheXTestPasteWaitsForAHeldModifierWhileTheLoopRuns) {
    ASSERT_TRUE(monitor.start());
    EXPECT_EQ(type({"keydown", "62"}), "62+m");
    platform::x11::XTestKeySender keys(loop);
    std::optional<platform::KeySender::Result> result;
    keys.sendPaste(platform::PasteShortcut::controlV, [&](auto given) { result = given; });
    loop.runFor(0.05);
    EXPECT_FALSE(result) << "sent through the user's Shift, or the loop was held while waiting";
    ASSERT_EQ(run({"xdotool", "keyup", "62"}).status, 0);
    loop.runUntil([&] { return result.has_value(); });
    EXPECT_EQ(result, platform::KeySender::Result::sent);
    EXPECT_EQ(type({}), "62-m 37+m 55+ 55- 37-m") << "the paste keys after the release";
}

class SecretStoreTest : public testing::Test {
protected:
    void SetUp() override {
        if (auto why = desktop::missingRig())
            GTEST_SKIP() << *why;
        run({"secret-tool", "clear", "service", service, "account", account});
    }
    std::optional<std::string> toolLookup() {
        auto found = run({"secret-tool", "lookup", "service", service, "account", account});
        return found.status == 0 ? std::optional(found.out) : std::nullopt;
    }
    const std::string account = "store-test";
    LibsecretStore store;
};

TEST_F(SecretStoreTest, StoresFindsReplacesAndClearsSecretsAlsoThoseOfSecretTool) {
    EXPECT_EQ(store.lookup(service, account), std::nullopt);
    EXPECT_TRUE(store.store(service, account, label, "ключ-сек рет"));
    EXPECT_EQ(toolLookup(), "ключ-сек рет");
    EXPECT_TRUE(store.store(service, account, label, "sk-2"));
    EXPECT_EQ(store.lookup(service, account), "sk-2");
    EXPECT_NE(run({"secret-tool", "search", "--all", "service", service}).out.find("label = " + label),
              std::string::npos);
    EXPECT_TRUE(store.clear(service, account));
    EXPECT_EQ(toolLookup(), std::nullopt);
    EXPECT_TRUE(store.clear(service, account)) << "nothing left to remove is no failure";

    ASSERT_EQ(
        run({"secret-tool", "store", "--label=DeepSeek", "service", service, "account", account}, "sk-tool").status, 0);
    EXPECT_EQ(store.lookup(service, account), "sk-tool");
}

TEST_F(SecretStoreTest, AHungProviderMeansNoKeyWithinTheBound) {
    ASSERT_TRUE(store.store(service, account, label, "sk-held"));
    {
        Paused keyring("RUVEX_RIG_KEYRING_PID");
        // Without the bound each of these would wait 25 s or more for D-Bus, beyond the test's time limit.
        EXPECT_EQ(store.lookup(service, account), std::nullopt);
        EXPECT_FALSE(store.store(service, account, label, "sk-other"));
    }
    auto after = store.lookup(service, account);
    EXPECT_TRUE(after == "sk-held" || after == "sk-other") << after.value_or("none");
}

TEST(SecretStore, NoBusMeansNoKeyAtOnce) {
    testsupport::TempDir nowhere;
    testsupport::ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (nowhere / "no-bus").string());
    testsupport::ScopedEnv display("DISPLAY", std::nullopt);
    LibsecretStore unreachable;
    EXPECT_EQ(unreachable.lookup(service, "deepseek"), std::nullopt);
    EXPECT_FALSE(unreachable.store(service, "deepseek", label, "sk-nowhere"));
}

TEST(Microphone, AvailabilityFollowsTheDefaultSourceAndTheServer) {
    if (auto why = desktop::missingRig())
        GTEST_SKIP() << *why;
    EXPECT_EQ(PulseAudioSource::microphoneState(), MicrophoneState::available);
    ASSERT_EQ(run({"pactl", "set-source-mute", "vmic", "1"}).status, 0);
    EXPECT_EQ(PulseAudioSource::microphoneState(), MicrophoneState::muted);
    ASSERT_EQ(run({"pactl", "set-source-mute", "vmic", "0"}).status, 0);
    ASSERT_EQ(run({"pactl", "set-default-source", "vmic_out.monitor"}).status, 0);
    EXPECT_EQ(PulseAudioSource::microphoneState(), MicrophoneState::monitor);
    ASSERT_EQ(run({"pactl", "set-default-source", "vmic"}).status, 0);

    // Capture through the recorder: 16 kHz mono chunks on its queue, the stop's completion after them.
    core::RunLoop loop;
    std::size_t samples = 0; // audio queue only, until the completion
    std::size_t atStop = 0;
    bool stopped = false;
    {
        speech::Recorder recorder(loop, std::make_unique<PulseAudioSource>());
        recorder.onSamples = [&](const std::vector<float>& chunk) { samples += chunk.size(); };
        recorder.start();
        // The virtual microphone gives samples while something plays into its sink.
        testsupport::TempDir dir;
        ASSERT_EQ(
            run({"sox", "-n", "-r", "16000", "-c", "1", (dir / "tone.wav").string(), "synth", "0.5", "sine", "440"})
                .status,
            0);
        testsupport::Process player({"paplay", "--device=vmic_out", (dir / "tone.wav").string()});
        player.wait([&] { loop.runFor(0.01); });
        recorder.stop([&] {
            atStop = samples;
            loop.post([&] { stopped = true; });
        });
        loop.runUntil([&] { return stopped; });
    }
    EXPECT_GE(atStop, 16000u * 4 / 10) << "0.5 s at 16 kHz mono, give or take the ends";
    EXPECT_EQ(atStop, samples);

    {
        Paused server("RUVEX_RIG_PULSEAUDIO_PID");
        EXPECT_EQ(PulseAudioSource::microphoneState(), MicrophoneState::noServer) << "a hung server is no server";
        EXPECT_FALSE(PulseAudioSource().start());
    }
    testsupport::TempDir dir;
    testsupport::ScopedEnv nowhere("PULSE_SERVER", "unix:" + (dir / "no-such-socket").string());
    EXPECT_EQ(PulseAudioSource::microphoneState(), MicrophoneState::noServer);
    EXPECT_FALSE(PulseAudioSource().start());
}

} // namespace
