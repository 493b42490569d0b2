#include "SpeechAudio.h"

#include <random>
#include <string>
#include <vector>

namespace bench {

tones::Samples dictation(double seconds, uint32_t seed) {
    static const std::vector<std::string> words = {"привет", "мир",    "как",   "дела", "съешь", "же",  "ещё",
                                                   "этих",   "мягких", "булок", "да",   "выпей", "чаю", "ёж",
                                                   "юла",    "кто-то", "дом",   "кот",  "вот",   "и",   "всё"};
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> pickWord(0, words.size() - 1);
    std::uniform_int_distribution<int> wordCount(3, 7);
    std::uniform_real_distribution<double> pause(0.6, 1.2);
    const size_t target = static_cast<size_t>(seconds * 16000);
    tones::Samples audio = tones::silence(0.2);
    while (audio.size() < target) {
        std::string phrase;
        for (int i = wordCount(random); i > 0; --i) {
            phrase += (phrase.empty() ? "" : " ") + words[pickWord(random)];
        }
        tones::append(audio, tones::speech(phrase));
        tones::append(audio, tones::silence(pause(random)));
    }
    audio.resize(target);
    return audio;
}

} // namespace bench
