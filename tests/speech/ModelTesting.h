#pragma once

#include "Tones.h"
#include "speech/Engine.h"
#include "support/TempDir.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace modeltesting {

using testsupport::ScopedEnv;

/// Runs `body` in a forked child and returns its exit status (-1 when it died of a signal), so
/// that a library which ends the process cannot take the test with it.
inline int exitStatusInChild(const std::function<int()>& body) {
    pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// 0 when building an engine from `model` fails with Engine::Failure, 1 when it loads, 2 for any
/// other exception; the process may also end inside the library.
inline int engineOutcomeInChild(const std::filesystem::path& model, std::optional<std::filesystem::path> terms = {}) {
    return exitStatusInChild([&] {
        try {
            speech::Engine engine(model, terms);
            return 1;
        } catch (const speech::Engine::Failure& failure) {
            return std::string(failure.what()) == "Модель речи не загрузилась" ? 0 : 3;
        } catch (...) {
            return 2;
        }
    });
}

/// Decodes on the engine's queue, as the sessions do.
inline std::string decode(speech::Engine& engine, const std::vector<float>& samples) {
    std::string text;
    engine.queue().sync([&] { text = engine.transcribe(samples); });
    return text;
}

/// "до" and then a tone between "м" and "н", closer to "м": greedy search hears "дом"; a hotword
/// "дон" is strong enough to flip it in beam search.
inline tones::Samples ambiguousWord() {
    tones::Samples audio = tones::silence(0.1);
    for (double at : {tones::position("▁"), tones::position("д"), tones::position("о"), tones::position("м") + 0.4}) {
        tones::append(audio, tones::tone(at));
        tones::append(audio, tones::silence(0.06));
    }
    tones::append(audio, tones::silence(0.2));
    return audio;
}

} // namespace modeltesting
