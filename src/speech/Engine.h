#pragma once

#include "speech/Recognizer.h"
#include "text/Vocabulary.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct SherpaOnnxOfflineRecognizer;

namespace speech {

/// One offline transducer recogniser (sherpa-onnx) loaded from a model folder, optionally biased
/// towards the dictionary terms. Owns the serial queue "ruvex.voice.engine" on which all
/// recognition runs. Shared by the sessions through std::shared_ptr; the recogniser is released
/// with the engine. Its configuration never changes after creation.
class Engine : public Recognizer {
public:
    /// The engine cannot be built; what() is the text shown to the user.
    class Failure : public std::runtime_error {
    public:
        enum Case { load };
        explicit Failure(Case which = load);
        Case which;
    };

    /// Loads tokens.txt, encoder.int8.onnx, decoder.onnx and joiner.onnx from `modelDirectory`.
    /// `terms` is the hotwords file; it is used only when a bpe vocabulary is found (the
    /// application's resource, else $RUVEX_VOICE_BPE_VOCAB, else one made from the token table
    /// beside the terms file). Terms the model's tokens cannot spell are left out. Runs on any
    /// thread; throws Failure when the model is missing or damaged. `threads` is how many threads
    /// the library uses inside one decode.
    Engine(std::filesystem::path modelDirectory, std::optional<std::filesystem::path> terms,
           float termScore = text::Vocabulary::termScore, int threads = defaultThreads());
    ~Engine() override;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    core::SerialQueue& queue() override { return *serialQueue; }

    /// Decodes one piece with a fresh stream; "" for no samples or no result. Call on `queue()`.
    std::string transcribe(const std::vector<float>& samples) override;

    /// True when recognition runs with modified beam search and the dictionary terms.
    bool usesTerms() const { return termsActive; }

    /// min(4, usableCores()): more decode threads than cores make them wait for each other, which
    /// on two cores is more than twice as slow as two threads.
    static int defaultThreads();

    /// The cores this process may run on: its CPU affinity mask, lowered by a CPU quota of its
    /// cgroup or of any cgroup above it (v2 cpu.max, v1 cpu.cfs_quota_us), rounded down, at least 1.
    /// The cgroup files are looked up under `cgroupRoot`, as `procCgroup` places the process.
    static int usableCores(const std::filesystem::path& cgroupRoot = "/sys/fs/cgroup",
                           const std::filesystem::path& procCgroup = "/proc/self/cgroup");

    /// Where the application's own bpe vocabulary resource would be:
    /// <prefix>/share/ruvex-voice/bpe.vocab beside the program's bin/ folder.
    static std::filesystem::path bundledBpeVocab();

private:
    const SherpaOnnxOfflineRecognizer* recognizer = nullptr;
    bool termsActive = false;
    // Declared last so that it is destroyed first: pending work finishes while the recogniser lives.
    std::unique_ptr<core::SerialQueue> serialQueue;
};

} // namespace speech
