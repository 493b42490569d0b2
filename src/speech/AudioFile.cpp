#include "speech/AudioFile.h"

#include <fcntl.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <memory>

namespace speech {

namespace {

constexpr double sampleRate = 16000;
// Samples per block read, all channels together: memory stays small whatever the header says.
constexpr size_t blockSamples = 1 << 16;
// libsndfile's own limit; a header beyond it is not a sound file.
constexpr int mostChannels = 1024;

struct SoundCloser {
    void operator()(SNDFILE* sound) const { sf_close(sound); }
};
struct ResamplerDeleter {
    void operator()(soxr* resampler) const { soxr_delete(resampler); }
};

std::string duration(double seconds) {
    auto whole = static_cast<long long>(seconds);
    if (whole >= 3600 && whole % 3600 == 0) {
        return std::to_string(whole / 3600) + " ч";
    }
    if (whole >= 60 && whole % 60 == 0) {
        return std::to_string(whole / 60) + " мин";
    }
    return std::to_string(whole) + " с";
}

/// Opens `file` for libsndfile when it is a regular file; else the reason it cannot be read.
std::unique_ptr<SNDFILE, SoundCloser> open(const std::filesystem::path& file, SF_INFO& info, std::string& failure) {
    // Non-blocking, so that a pipe without a writer cannot stall the open; regular files ignore it.
    int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failure = errno == ENOENT ? "файл не найден" : errno == EACCES ? "нет прав на чтение" : "файл не открылся";
        return nullptr;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        failure = "это не обычный файл";
        return nullptr;
    }
    // libsndfile closes the descriptor with the file, and on a failed open too.
    std::unique_ptr<SNDFILE, SoundCloser> sound(sf_open_fd(fd, SFM_READ, &info, SF_TRUE));
    if (!sound || info.channels < 1 || info.channels > mostChannels) {
        failure = "формат не распознан";
        return nullptr;
    }
    if (info.samplerate < lowestSampleRate || info.samplerate > highestSampleRate) {
        failure = "частота дискретизации " + std::to_string(info.samplerate) + " Гц вне допустимых 4–384 кГц";
        return nullptr;
    }
    return sound;
}

/// Appends what `resampler` gives for `input` (nothing: the flush at the end) to `out`.
bool resample(soxr* resampler, const float* input, size_t count, double ratio, std::vector<float>& out) {
    std::vector<float> buffer(static_cast<size_t>(std::ceil(static_cast<double>(count) * ratio)) + 256);
    size_t consumed = 0;
    for (;;) {
        size_t used = 0;
        size_t made = 0;
        const float* from = input == nullptr ? nullptr : input + consumed;
        if (soxr_process(resampler, from, count - consumed, &used, buffer.data(), buffer.size(), &made) != nullptr) {
            return false;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(made));
        consumed += used;
        // Input is done once all of it is taken and the output buffer was not filled up; a call
        // that moves nothing would be repeated for ever.
        if ((input != nullptr && consumed == count && made < buffer.size()) || (input == nullptr && made == 0) ||
            (used == 0 && made == 0)) {
            return true;
        }
    }
}

} // namespace

AudioRead readAudio(const std::filesystem::path& file, double longestSeconds) {
    AudioRead result;
    SF_INFO info{};
    auto sound = open(file, info, result.failure);
    if (!sound) {
        return result;
    }
    const auto channels = static_cast<size_t>(info.channels);
    const double ratio = sampleRate / info.samplerate;
    std::unique_ptr<soxr, ResamplerDeleter> resampler;
    if (info.samplerate != static_cast<int>(sampleRate)) {
        soxr_error_t error = nullptr;
        soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        resampler.reset(soxr_create(info.samplerate, sampleRate, 1, &error, &io, &quality, nullptr));
        if (error != nullptr || !resampler) {
            result.failure = "не удалось пересчитать частоту дискретизации";
            return result;
        }
    }
    const double longestFrames = longestSeconds * info.samplerate;
    const size_t blockFrames = std::max<size_t>(1, blockSamples / channels);
    std::vector<float> interleaved(blockFrames * channels);
    std::vector<float> mono(blockFrames);
    double frames = 0;
    for (;;) {
        sf_count_t read = sf_readf_float(sound.get(), interleaved.data(), static_cast<sf_count_t>(blockFrames));
        if (read <= 0) {
            break;
        }
        frames += static_cast<double>(read);
        if (frames > longestFrames) {
            result.samples = {};
            result.failure = "запись длиннее " + duration(longestSeconds);
            return result;
        }
        for (size_t i = 0; i < static_cast<size_t>(read); ++i) {
            float sum = 0;
            for (size_t c = 0; c < channels; ++c) {
                sum += interleaved[i * channels + c];
            }
            mono[i] = sum / static_cast<float>(channels);
        }
        if (!resampler) {
            result.samples.insert(result.samples.end(), mono.begin(), mono.begin() + read);
        } else if (!resample(resampler.get(), mono.data(), static_cast<size_t>(read), ratio, result.samples)) {
            result.failure = "не удалось пересчитать частоту дискретизации";
            break;
        }
    }
    if (result.failure.empty() && sf_error(sound.get()) != SF_ERR_NO_ERROR) {
        result.failure = "файл поврежден";
    }
    if (result.failure.empty() && resampler && frames > 0 &&
        !resample(resampler.get(), nullptr, 0, ratio, result.samples)) {
        result.failure = "не удалось пересчитать частоту дискретизации";
    }
    if (!result.failure.empty()) {
        result.samples = {};
    }
    return result;
}

} // namespace speech
