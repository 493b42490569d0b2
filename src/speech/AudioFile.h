#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace speech {

/// Reads an audio file that libsndfile understands (WAV, FLAC, OGG, ...) as 16 kHz mono floats,
/// mixing the channels down and resampling; nothing when the file cannot be read.
std::optional<std::vector<float>> readAudio(const std::filesystem::path& file);

} // namespace speech
