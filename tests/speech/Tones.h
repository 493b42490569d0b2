#pragma once

#include <filesystem>
#include <string>
#include <vector>

/// Test audio for the synthetic tone-alphabet model: every token is a pure tone, silence is blank.
namespace tones {

using Samples = std::vector<float>;

/// The generated model folder in the build tree.
std::filesystem::path modelDirectory();

/// The generated damaged variants, beside the model folder: encoder-unknown-operator.onnx,
/// encoder-damaged-constant.onnx, joiner-fails-on-speech.onnx, and gigaam-io/ with graphs that
/// declare the real model's inputs and outputs.
std::filesystem::path faultsDirectory();

/// Copies the model folder into `to` (created), so a test can damage its own copy.
void copyModel(const std::filesystem::path& to);

/// The frequency of a tone at mel-bin position `position` (token k sits at 18 + k).
double frequency(double position);

/// The position of one token symbol ("▁", a lower-case Cyrillic letter or one of . , ? ! -).
double position(const std::string& symbol);

Samples silence(double seconds);

/// A sine at `position`, 5 ms raised-cosine ramps at both ends.
Samples tone(double position, double seconds = 0.1, float amplitude = 0.3f);

/// Tones for `text` without leading or trailing silence: each word is "▁" and then its letters;
/// "_" is a bare "▁"; every tone is followed by 60 ms of silence.
Samples speech(const std::string& text);

/// `speech(text)` with 100 ms of silence before and 200 ms after.
Samples phrase(const std::string& text);

/// Writes `samples` (16 kHz mono) as a 16-bit WAV file at `rate` Hz with `channels` identical
/// channels, resampling by linear interpolation when the rate differs. False when it cannot.
bool writeWav(const std::filesystem::path& file, const Samples& samples, int rate = 16000, int channels = 1);

/// Appends `more` to `to`.
void append(Samples& to, const Samples& more);

} // namespace tones
