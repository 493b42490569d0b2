#pragma once

#include "Tones.h"

#include <cstdint>

namespace bench {

/// About `seconds` of synthetic dictation for the tone model: phrases of three to seven words,
/// 2 to 6 s long, with pauses of 0.6 to 1.2 s between them, from a fixed seed.
tones::Samples dictation(double seconds, uint32_t seed = 1);

} // namespace bench
