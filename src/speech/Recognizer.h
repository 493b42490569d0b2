#pragma once

#include "core/SerialQueue.h"

#include <string>
#include <vector>

namespace speech {

/// What a dictation session needs of a recogniser: a serial queue for all recognition work and a
/// synchronous decode of one piece of 16 kHz mono float samples. `Engine` is the real one.
class Recognizer {
public:
    virtual ~Recognizer() = default;

    /// The serial queue on which every `transcribe` call runs; shared by all sessions.
    virtual core::SerialQueue& queue() = 0;

    /// The trimmed text of `samples`, or "" when nothing was recognised. Call on `queue()` only.
    virtual std::string transcribe(const std::vector<float>& samples) = 0;
};

} // namespace speech
