#include "speech/TranscribeCommand.h"

#include "core/Paths.h"
#include "speech/Dictation.h"
#include "speech/Engine.h"
#include "text/Transcript.h"
#include "text/Vocabulary.h"

#include <sndfile.h>
#include <soxr.h>

#include <future>
#include <memory>
#include <ostream>

namespace speech::TranscribeCommand {

namespace {

constexpr double sampleRate = 16000;
constexpr size_t chunk = 320; // 20 ms, as the capture delivers it

std::string quoted(const std::filesystem::path& path) {
    return "«" + path.string() + "»";
}

std::string transcribe(const std::shared_ptr<Engine>& engine, const std::vector<float>& audio) {
    std::promise<std::string> result;
    DictationSession session(engine);
    for (size_t at = 0; at < audio.size(); at += chunk) {
        auto end = audio.begin() + static_cast<std::ptrdiff_t>(std::min(at + chunk, audio.size()));
        session.feed(Samples(audio.begin() + static_cast<std::ptrdiff_t>(at), end));
    }
    session.finish([&result](std::string text) { result.set_value(std::move(text)); });
    return result.get_future().get();
}

} // namespace

std::filesystem::path defaultModelDirectory() {
    return core::paths::applicationSupport() / "models" / "gigaam-v3-e2e-rnnt-int8-2025-12-16";
}

std::optional<std::vector<float>> readAudio(const std::filesystem::path& file) {
    SF_INFO info{};
    SNDFILE* sound = sf_open(file.c_str(), SFM_READ, &info);
    if (sound == nullptr) {
        return std::nullopt;
    }
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> closer(sound, sf_close);
    if (info.channels < 1 || info.samplerate < 1 || info.frames < 0) {
        return std::nullopt;
    }
    std::vector<float> interleaved(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_count_t frames = sf_readf_float(sound, interleaved.data(), info.frames);
    if (frames < 0 || sf_error(sound) != SF_ERR_NO_ERROR) {
        return std::nullopt;
    }
    std::vector<float> mono(static_cast<size_t>(frames));
    for (size_t i = 0; i < mono.size(); ++i) {
        float sum = 0;
        for (int c = 0; c < info.channels; ++c) {
            sum += interleaved[i * static_cast<size_t>(info.channels) + static_cast<size_t>(c)];
        }
        mono[i] = sum / static_cast<float>(info.channels);
    }
    if (info.samplerate == static_cast<int>(sampleRate) || mono.empty()) {
        return mono;
    }
    std::vector<float> resampled(
        static_cast<size_t>(static_cast<double>(mono.size()) * sampleRate / static_cast<double>(info.samplerate)) + 16);
    size_t written = 0;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = soxr_oneshot(static_cast<double>(info.samplerate), sampleRate, 1, mono.data(), mono.size(),
                                      nullptr, resampled.data(), resampled.size(), &written, &io, &quality, nullptr);
    if (error != nullptr) {
        return std::nullopt;
    }
    resampled.resize(written);
    return resampled;
}

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    std::filesystem::path modelDirectory = defaultModelDirectory();
    std::vector<std::filesystem::path> files;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--model") {
            if (i + 1 == arguments.size()) {
                err << "После --model укажите папку модели\n";
                return 2;
            }
            modelDirectory = arguments[++i];
        } else if (arguments[i].rfind("--", 0) == 0) {
            err << "Неизвестный параметр " << quoted(arguments[i]) << "\n";
            return 2;
        } else {
            files.emplace_back(arguments[i]);
        }
    }
    if (files.empty()) {
        err << "Укажите хотя бы один аудиофайл: ruvex-voice --transcribe [--model ПАПКА] ФАЙЛ...\n";
        return 2;
    }

    std::error_code missing;
    if (!std::filesystem::is_directory(modelDirectory, missing)) {
        err << "Модель речи не найдена: " << quoted(modelDirectory) << "\n";
        return 1;
    }
    text::Vocabulary vocabulary = text::Vocabulary::load();
    std::shared_ptr<Engine> engine;
    try {
        engine = std::make_shared<Engine>(modelDirectory, vocabulary.writeTermsFile());
    } catch (const Engine::Failure& failure) {
        err << failure.what() << ": " << quoted(modelDirectory) << "\n";
        return 1;
    }

    int status = 0;
    for (const auto& file : files) {
        auto audio = readAudio(file);
        if (!audio) {
            err << "Не удалось прочитать аудиофайл " << quoted(file) << "\n";
            status = 1;
            continue;
        }
        std::string raw = transcribe(engine, *audio);
        out << vocabulary.apply(text::Transcript::cleanLocally(raw)) << "\n" << std::flush;
    }
    return status;
}

} // namespace speech::TranscribeCommand
