#pragma once

#include "Tones.h"

#include <cstdint>
#include <vector>

namespace bench {

/// About `seconds` of synthetic dictation for the tone model: phrases of three to seven words,
/// 2 to 6 s long, with pauses of 0.6 to 1.2 s between them, from a fixed seed.
tones::Samples dictation(double seconds, uint32_t seed = 1);

/// One dictation of the release benchmark: phrases with natural pauses for about `seconds`, the last
/// phrase complete, then `releasePause` seconds of silence before the key comes up.
struct Dictation {
    tones::Samples audio;
    double seconds;
    double releasePause;
};

/// Dictations of 5 to 120 s, each released after a pause of 0.3 to 1.0 s after its last word.
/// `quick` keeps a third of them (the shorter ones and one long one).
std::vector<Dictation> corpus(bool quick);

/// Dictation terms that the tone model's and the sized model's tokens can spell.
const std::vector<const char*>& terms();

} // namespace bench
