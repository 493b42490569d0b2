#pragma once

#include "SpeechAudio.h"
#include "speech/Engine.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

namespace bench {

/// An engine on `model` with greedy search, or with beam search and the benchmark's terms.
/// `threads` 0 is the engine's own default.
inline std::shared_ptr<speech::Engine> loadEngine(const std::filesystem::path& model, bool beam, int threads) {
    std::optional<std::filesystem::path> termsFile;
    if (beam) {
        char folder[] = "/tmp/ruvex-bench-XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            return nullptr;
        }
        termsFile = std::filesystem::path(folder) / "terms.txt";
        std::ofstream out(*termsFile);
        for (const char* term : terms()) {
            out << term << "\n";
        }
    }
    unsetenv("RUVEX_VOICE_BPE_VOCAB"); // the vocabulary is derived from the model's own tokens
    auto engine = threads > 0 ? std::make_shared<speech::Engine>(model, termsFile, 2.0f, threads)
                              : std::make_shared<speech::Engine>(model, termsFile);
    if (termsFile) {
        std::filesystem::remove_all(termsFile->parent_path());
    }
    return engine;
}

} // namespace bench
