#include "speech/AudioFile.h"

#include <sndfile.h>
#include <soxr.h>

#include <memory>

namespace speech {

namespace {
constexpr double sampleRate = 16000;
} // namespace

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

} // namespace speech
