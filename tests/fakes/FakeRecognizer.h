#pragma once

#include "speech/Recognizer.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace fakes {

/// A recogniser with its own serial queue that records every piece it is asked to decode.
/// By default a piece's text is "слово<N>", N being its loudest sample × 10 rounded, so tests
/// can tell pieces apart by their level; silence gives "". Read `pieces` only on `queue()` or
/// after a completion delivered from it.
class FakeRecognizer : public speech::Recognizer {
public:
    core::SerialQueue& queue() override { return serial; }

    std::string transcribe(const std::vector<float>& samples) override {
        if (!serial.isCurrent()) {
            offQueue = true;
        }
        pieces.push_back(samples);
        if (textFor) {
            return textFor(samples);
        }
        float loudest = 0;
        for (float s : samples) {
            loudest = std::max(loudest, std::fabs(s));
        }
        long word = std::lround(loudest * 10);
        return word == 0 ? "" : "слово" + std::to_string(word);
    }

    std::vector<std::vector<float>> pieces;
    bool offQueue = false; ///< set when transcribe ran on another thread
    std::function<std::string(const std::vector<float>&)> textFor;

private:
    core::SerialQueue serial{"ruvex.voice.engine"};
};

} // namespace fakes
