#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace speech {

/// What reading an audio file gave: its samples, or why there are none.
struct AudioRead {
    std::vector<float> samples; ///< 16 kHz mono
    std::string failure;        ///< empty on success, else one short Russian line

    explicit operator bool() const { return failure.empty(); }
};

/// The longest audio file `readAudio` accepts by default, in seconds.
constexpr double longestAudioSeconds = 2 * 60 * 60;

/// The sample rates `readAudio` accepts, in Hz; a header outside them is damaged or hostile.
constexpr int lowestSampleRate = 4000;
constexpr int highestSampleRate = 384000;

/// Reads an audio file that libsndfile understands (WAV, FLAC, OGG, ...) as 16 kHz mono floats,
/// mixing the channels down and resampling. Only regular files are opened (a pipe could block
/// forever); the data is read in blocks until it ends, whatever length the header claims, and a
/// file longer than `longestSeconds` is refused. Callable from any thread.
AudioRead readAudio(const std::filesystem::path& file, double longestSeconds = longestAudioSeconds);

} // namespace speech
