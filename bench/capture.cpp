// Capture latency against the running PulseAudio server (run it under scripts/rig.sh):
// the time from Recorder::start() to the first onSamples chunk, and from stop() to its completion.
// The first capture on a freshly started server is timed apart: a null sink (the rig's virtual
// microphone) runs in 2 s blocks until a client first asks for less, which delays that one capture.
#include "core/RunLoop.h"
#include "platform/linux/PulseAudioSource.h"
#include "speech/Recorder.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double milliseconds(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

struct Timing {
    double startReturned;
    double firstChunk;
    double stopCompleted;
};

struct Signal {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<Clock::time_point> at;

    void set() {
        std::lock_guard lock(mutex);
        if (!at)
            at = Clock::now();
        changed.notify_all();
    }
    Clock::time_point wait() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return at.has_value(); });
        return *at;
    }
};

void report(const char* what, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    std::printf("%-28s median %7.2f ms   max %7.2f ms   min %7.2f ms\n", what, median, values.back(), values.front());
}

// One capture: start, wait for the first chunk, stop, wait for the completion.
std::optional<Timing> capture(core::MainQueue& main) {
    Signal chunk;
    Signal stopped;
    speech::Recorder recorder(main, std::make_unique<platform::lnx::PulseAudioSource>());
    recorder.onSamples = [&](const std::vector<float>&) { chunk.set(); };
    const auto began = Clock::now();
    try {
        recorder.start();
    } catch (const speech::Recorder::Failure& failure) {
        std::fprintf(stderr, "bench_capture: %s (is a PulseAudio server running?)\n", failure.what());
        return std::nullopt;
    }
    Timing timing{};
    timing.startReturned = milliseconds(Clock::now() - began);
    timing.firstChunk = milliseconds(chunk.wait() - began);
    const auto stopping = Clock::now();
    recorder.stop([&] { stopped.set(); });
    timing.stopCompleted = milliseconds(stopped.wait() - stopping);
    return timing;
}

} // namespace

int main() {
    constexpr int runs = 20;
    core::RunLoop loop; // receives the level calls; never run
    const auto first = capture(loop);
    if (!first)
        return 1;
    std::vector<double> startReturned;
    std::vector<double> firstChunk;
    std::vector<double> stopCompleted;
    for (int run = 0; run < runs; ++run) {
        const auto timing = capture(loop);
        if (!timing)
            return 1;
        startReturned.push_back(timing->startReturned);
        firstChunk.push_back(timing->firstChunk);
        stopCompleted.push_back(timing->stopCompleted);
    }
    std::printf("first capture on this server: first chunk after %.2f ms, stop completed after %.2f ms\n",
                first->firstChunk, first->stopCompleted);
    std::printf("capture over %d runs (16 kHz mono float, 20 ms fragments)\n", runs);
    report("start() returned", startReturned);
    report("start() to first chunk", firstChunk);
    report("stop() to completion", stopCompleted);
    return 0;
}
