#include "SpeechAudio.h"

#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace bench {

namespace {

const std::vector<std::string> words = {"привет", "мир",    "как",   "дела", "съешь", "же",  "ещё",
                                        "этих",   "мягких", "булок", "да",   "выпей", "чаю", "ёж",
                                        "юла",    "кто-то", "дом",   "кот",  "вот",   "и",   "всё"};

/// Phrases of three to seven words separated by pauses of 0.6 to 1.2 s, until `seconds` of audio;
/// the last phrase is left complete and nothing follows it.
tones::Samples phrases(double seconds, std::mt19937& random) {
    std::uniform_int_distribution<size_t> pickWord(0, words.size() - 1);
    std::uniform_int_distribution<int> wordCount(3, 7);
    std::uniform_real_distribution<double> pause(0.6, 1.2);
    const size_t target = static_cast<size_t>(seconds * 16000);
    tones::Samples audio = tones::silence(0.2);
    for (;;) {
        std::string phrase;
        for (int i = wordCount(random); i > 0; --i) {
            phrase += (phrase.empty() ? "" : " ") + words[pickWord(random)];
        }
        tones::append(audio, tones::speech(phrase));
        if (audio.size() >= target) {
            return audio;
        }
        tones::append(audio, tones::silence(pause(random)));
    }
}

} // namespace

tones::Samples dictation(double seconds, uint32_t seed) {
    std::mt19937 random(seed);
    tones::Samples audio = phrases(seconds, random);
    audio.resize(static_cast<size_t>(seconds * 16000));
    return audio;
}

std::vector<Dictation> corpus(bool quick) {
    static const double lengths[] = {5, 6, 7, 8, 9, 10, 11, 12, 14, 16, 18, 20, 25, 30, 40, 50, 60, 90, 120};
    std::vector<Dictation> result;
    for (uint32_t index = 0; index < std::size(lengths); ++index) {
        if (quick && index % 3 != 0 && lengths[index] != 60) {
            continue;
        }
        std::mt19937 random(2024 + index);
        double releasePause = std::uniform_real_distribution<double>(0.3, 1.0)(random);
        // Each phrase ends in speech()'s own 60 ms gap; the pause counts from there.
        tones::Samples audio = phrases(lengths[index] - releasePause - 1.0, random);
        tones::append(audio, tones::silence(releasePause - 0.06));
        result.push_back({audio, static_cast<double>(audio.size()) / 16000.0, releasePause});
    }
    return result;
}

const std::vector<const char*>& terms() {
    static const std::vector<const char*> list = {"привет", "булок", "мягких", "выпей", "кто-то",
                                                  "дела",   "чаю",   "юла",    "ёж",    "дом"};
    return list;
}

} // namespace bench
