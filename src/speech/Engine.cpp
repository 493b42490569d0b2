#include "speech/Engine.h"

#include "core/AtomicFile.h"
#include "core/Unicode.h"
#include "speech/ModelFiles.h"
#include "speech/OnnxModel.h"
#include "speech/SherpaOnnx.h"

#include <malloc.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace speech {

namespace {

constexpr int32_t sampleRate = 16000;

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

/// The bpe vocabulary path, first match wins; "" when there is none and none can be made.
std::string findBpeVocab(const std::filesystem::path& termsFile, const std::vector<std::string>& tokens) {
    std::error_code error;
    if (auto bundled = Engine::bundledBpeVocab(); std::filesystem::is_regular_file(bundled, error)) {
        return bundled.string();
    }
    if (const char* fromEnvironment = std::getenv("RUVEX_VOICE_BPE_VOCAB")) {
        return fromEnvironment;
    }
    // Nothing ships one for the downloaded model: derive it from the model's own token table.
    auto made = termsFile.parent_path() / "bpe.vocab";
    if (!core::writeAtomically(made, ModelFiles::bpeVocabFor(tokens))) {
        return "";
    }
    return made.string();
}

/// Writes the terms the model can spell beside the terms file; nothing when none is left.
std::optional<std::filesystem::path> writeSpellableTerms(const std::filesystem::path& termsFile,
                                                         const std::vector<std::string>& tokens,
                                                         const std::filesystem::path& bpeVocab) {
    auto vocabPieces = ModelFiles::readBpePieces(bpeVocab);
    if (!vocabPieces) {
        return std::nullopt;
    }
    // The encoder segments with the vocabulary, then looks every piece up in the token table.
    std::vector<std::string> pieces;
    for (const auto& piece : *vocabPieces) {
        if (piece != "<blk>" && std::find(tokens.begin(), tokens.end(), piece) != tokens.end()) {
            pieces.push_back(piece);
        }
    }
    auto kept = ModelFiles::spellableTerms(readAll(termsFile), pieces);
    if (kept.empty()) {
        return std::nullopt;
    }
    std::string text;
    for (const auto& term : kept) {
        text += term + "\n";
    }
    auto filtered = termsFile.parent_path() / (termsFile.stem().string() + ".hotwords.txt");
    if (!core::writeAtomically(filtered, text)) {
        return std::nullopt;
    }
    return filtered;
}

/// Cores a cgroup's CPU quota allows, when `folder` sets one (v2 "cpu.max", v1 "cpu.cfs_quota_us").
std::optional<double> quotaCores(const std::filesystem::path& folder) {
    std::ifstream v2(folder / "cpu.max");
    std::string quota;
    double period = 0;
    if (v2 >> quota >> period) {
        return quota == "max" || period <= 0 ? std::nullopt : std::optional(std::atof(quota.c_str()) / period);
    }
    std::ifstream v1Quota(folder / "cpu.cfs_quota_us");
    std::ifstream v1Period(folder / "cpu.cfs_period_us");
    double microseconds = 0;
    if (v1Quota >> microseconds && v1Period >> period && microseconds > 0 && period > 0) {
        return microseconds / period;
    }
    return std::nullopt;
}

/// The smallest CPU quota on the way from the process's cgroups up to the roots of their hierarchies.
std::optional<double> cgroupQuota(const std::filesystem::path& root, const std::filesystem::path& procCgroup) {
    std::ifstream lines(procCgroup);
    std::optional<double> smallest;
    for (std::string line; std::getline(lines, line);) {
        // "0::/path" for cgroup v2; "4:cpu,cpuacct:/path" for the v1 hierarchy holding the cpu controller.
        auto first = line.find(':');
        auto second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        std::string controllers = line.substr(first + 1, second - first - 1);
        std::filesystem::path hierarchy = root;
        if (!controllers.empty()) {
            std::stringstream names(controllers);
            bool hasCpu = false;
            for (std::string name; std::getline(names, name, ',');) {
                hasCpu = hasCpu || name == "cpu";
            }
            if (!hasCpu) {
                continue;
            }
            hierarchy /= controllers;
        }
        std::filesystem::path relative = std::filesystem::path(line.substr(second + 1)).relative_path();
        for (;;) {
            if (auto cores = quotaCores(hierarchy / relative); cores && (!smallest || *cores < *smallest)) {
                smallest = cores;
            }
            if (relative.empty()) {
                break;
            }
            relative = relative.parent_path();
        }
    }
    return smallest;
}

} // namespace

int Engine::usableCores(const std::filesystem::path& cgroupRoot, const std::filesystem::path& procCgroup) {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    int cores = sched_getaffinity(0, sizeof mask, &mask) == 0 ? CPU_COUNT(&mask) : 0;
    if (cores <= 0) {
        cores = static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
    }
    if (auto quota = cgroupQuota(cgroupRoot, procCgroup)) {
        cores = std::min(cores, std::max(1, static_cast<int>(*quota)));
    }
    return cores;
}

int Engine::defaultThreads() {
    return std::min(4, usableCores());
}

Engine::Failure::Failure(Case which) : std::runtime_error("Модель речи не загрузилась"), which(which) {}

std::filesystem::path Engine::bundledBpeVocab() {
    std::error_code error;
    auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return program.parent_path().parent_path() / "share" / "ruvex-voice" / "bpe.vocab";
}

namespace {

/// Everything the recogniser is created from; the strings outlive the configuration that points at them.
struct Setup {
    std::string encoder;
    std::string decoder;
    std::string joiner;
    std::string tokens;
    std::string bpeVocab; // empty unless terms are used
    std::string hotwords; // likewise
};

/// The model's token table, when every model file passes the checks. The library ends the process
/// on damaged or mismatched files instead of failing, so they are refused before it sees them.
std::optional<std::vector<std::string>> checkedTokens(const Setup& setup) {
    auto tokens = ModelFiles::readTokens(setup.tokens);
    if (!tokens) {
        return std::nullopt;
    }
    auto encoder = OnnxModel::read(setup.encoder);
    if (!encoder || !ModelFiles::encoderFits(encoder->metadata, tokens->size())) {
        return std::nullopt;
    }
    auto decoder = OnnxModel::read(setup.decoder);
    auto joiner = OnnxModel::read(setup.joiner);
    if (!decoder || !joiner || !ModelFiles::graphsFit(*encoder, *decoder, *joiner, tokens->size())) {
        return std::nullopt;
    }
    return tokens;
}

struct StreamDeleter {
    void operator()(const SherpaOnnxOfflineStream* stream) const { SherpaOnnxDestroyOfflineStream(stream); }
};
struct ResultDeleter {
    void operator()(const SherpaOnnxOfflineRecognizerResult* result) const {
        SherpaOnnxDestroyOfflineRecognizerResult(result);
    }
};

/// The trimmed text of one piece decoded with a fresh stream. Lets through what the library throws:
/// ONNX Runtime reports graphs that fail while running by exceptions through the C functions.
std::string decode(const SherpaOnnxOfflineRecognizer* recognizer, const std::vector<float>& samples) {
    std::unique_ptr<const SherpaOnnxOfflineStream, StreamDeleter> stream(SherpaOnnxCreateOfflineStream(recognizer));
    if (!stream) {
        return "";
    }
    SherpaOnnxAcceptWaveformOffline(stream.get(), sampleRate, samples.data(), static_cast<int32_t>(samples.size()));
    SherpaOnnxDecodeOfflineStream(recognizer, stream.get());
    std::unique_ptr<const SherpaOnnxOfflineRecognizerResult, ResultDeleter> result(
        SherpaOnnxGetOfflineStreamResult(stream.get()));
    if (!result || result->text == nullptr) {
        return "";
    }
    return core::unicode::trimmed(result->text);
}

SherpaOnnxOfflineRecognizerConfig configuration(const Setup& setup, float termScore, int threads) {
    const bool usesTerms = !setup.hotwords.empty();
    SherpaOnnxOfflineRecognizerConfig config;
    std::memset(&config, 0, sizeof config);
    config.feat_config.sample_rate = sampleRate;
    config.feat_config.feature_dim = 64;
    config.model_config.transducer.encoder = setup.encoder.c_str();
    config.model_config.transducer.decoder = setup.decoder.c_str();
    config.model_config.transducer.joiner = setup.joiner.c_str();
    config.model_config.tokens = setup.tokens.c_str();
    config.model_config.num_threads = threads;
    config.model_config.provider = "cpu";
    config.model_config.debug = 0;
    config.model_config.model_type = "nemo_transducer";
    config.model_config.modeling_unit = usesTerms ? "bpe" : "cjkchar";
    config.model_config.bpe_vocab = usesTerms ? setup.bpeVocab.c_str() : "";
    config.lm_config.model = "";
    config.lm_config.scale = 1.0f;
    config.decoding_method = usesTerms ? "modified_beam_search" : "greedy_search";
    config.max_active_paths = 4;
    config.hotwords_file = usesTerms ? setup.hotwords.c_str() : "";
    config.hotwords_score = termScore;
    config.rule_fsts = "";
    config.rule_fars = "";
    config.blank_penalty = 0.0f;
    return config;
}

} // namespace

Engine::Engine(std::filesystem::path modelDirectory, std::optional<std::filesystem::path> terms, float termScore,
               int threads)
    : serialQueue(std::make_unique<core::SerialQueue>("ruvex.voice.engine")) {
    const std::string directory = modelDirectory.string();
    Setup setup{directory + "/encoder.int8.onnx",
                directory + "/decoder.onnx",
                directory + "/joiner.onnx",
                directory + "/tokens.txt",
                "",
                ""};
    auto tokens = checkedTokens(setup);
    if (!tokens) {
        throw Failure(Failure::load);
    }
    if (terms) {
        std::string bpeVocab = findBpeVocab(*terms, *tokens);
        if (!bpeVocab.empty() && !ModelFiles::isValidBpeVocab(bpeVocab)) {
            throw Failure(Failure::load);
        }
        auto spellable = bpeVocab.empty() ? std::nullopt : writeSpellableTerms(*terms, *tokens, bpeVocab);
        if (spellable) {
            setup.bpeVocab = bpeVocab;
            setup.hotwords = spellable->string();
        }
    }
    termsActive = !setup.hotwords.empty();

    SherpaOnnxOfflineRecognizerConfig config = configuration(setup, termScore, threads);
    try {
        recognizer = SherpaOnnxCreateOfflineRecognizer(&config);
        // Some damage shows only when the graphs run (a constant that breaks an operator): half a
        // second of silence runs each of them once, here, where a failure is still a failed load.
        if (recognizer != nullptr) {
            decode(recognizer, std::vector<float>(sampleRate / 2, 0.0f));
        }
    } catch (...) {
        // ONNX Runtime's load and run errors unwind through the C functions; a model that will not
        // load or run must not take the program down.
        if (recognizer != nullptr) {
            SherpaOnnxDestroyOfflineRecognizer(recognizer);
        }
        recognizer = nullptr;
    }
    if (recognizer == nullptr) {
        throw Failure(Failure::load);
    }
#ifdef __GLIBC__
    // Loading parses the 230 MB model into buffers that are freed again; without this the heap
    // keeps about 150 MB of them in the process's resident memory for as long as it runs.
    malloc_trim(0);
#endif
}

Engine::~Engine() {
    // Let queued recognition finish while the recogniser still exists.
    serialQueue.reset();
    SherpaOnnxDestroyOfflineRecognizer(recognizer);
}

std::string Engine::transcribe(const std::vector<float>& samples) {
    if (samples.empty() || samples.size() > static_cast<size_t>(INT32_MAX)) {
        return "";
    }
    try {
        return decode(recognizer, samples);
    } catch (const std::exception& error) {
        // A model file damaged after the load check: this piece is lost, the dictation goes on.
        std::fprintf(stderr, "ruvex-voice: кусок речи не распознан: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "ruvex-voice: кусок речи не распознан\n");
    }
    return "";
}

} // namespace speech
