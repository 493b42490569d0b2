// Audio files given to --transcribe.
// Input: the file's bytes.
//
// Invariants: reading is deterministic; a file read gives no more than the duration limit's worth
// of 16 kHz samples (plus the resampler's slack) and no message; a refused file gives a message
// and no samples.

#include "FuzzSupport.h"

#include "speech/AudioFile.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A short limit keeps each run fast; the bound is the same code at any length.
    constexpr double longest = 10;
    const auto file = fuzz::scratch() / "audio";
    fuzz::writeFile(file, fuzz::text(data, size));
    auto read = speech::readAudio(file, longest);
    auto again = speech::readAudio(file, longest);
    // Compared as bytes: a float file may hold NaN, which equals nothing.
    fuzz::check(read.failure == again.failure && read.samples.size() == again.samples.size() &&
                    (read.samples.empty() ||
                     std::memcmp(read.samples.data(), again.samples.data(), read.samples.size() * sizeof(float)) == 0),
                "reading is deterministic");
    if (read) {
        fuzz::check(read.samples.size() <= static_cast<size_t>(longest * 16000) + 16000,
                    "no more samples than the limit allows");
    } else {
        fuzz::check(read.samples.empty(), "a refused file gives no samples");
    }
    return 0;
}
