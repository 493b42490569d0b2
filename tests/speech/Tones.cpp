#include "Tones.h"

#include <sndfile.h>

#include <cmath>
#include <stdexcept>

namespace tones {

namespace {

constexpr double rate = 16000;
const std::vector<std::string> symbols = {"▁", "а", "б", "в", "г", "д", "е", "ё", "ж", "з", "и", "й", "к",
                                          "л", "м", "н", "о", "п", "р", "с", "т", "у", "ф", "х", "ц", "ч",
                                          "ш", "щ", "ъ", "ы", "ь", "э", "ю", "я", ".", ",", "?", "!", "-"};

double mel(double hertz) {
    return 1127.0 * std::log(1.0 + hertz / 700.0);
}

std::vector<std::string> characters(const std::string& word) {
    std::vector<std::string> result;
    for (size_t at = 0; at < word.size();) {
        unsigned char lead = static_cast<unsigned char>(word[at]);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : 4;
        result.push_back(word.substr(at, length));
        at += length;
    }
    return result;
}

} // namespace

std::filesystem::path modelDirectory() {
    return RUVEX_TONE_MODEL_DIR;
}

std::filesystem::path faultsDirectory() {
    return modelDirectory().parent_path() / "tone-faults";
}

void copyModel(const std::filesystem::path& to) {
    std::filesystem::create_directories(to);
    for (const auto& entry : std::filesystem::directory_iterator(modelDirectory())) {
        std::filesystem::copy_file(entry.path(), to / entry.path().filename(),
                                   std::filesystem::copy_options::overwrite_existing);
    }
}

double frequency(double position) {
    double step = mel(8000.0) / 65.0;
    return 700.0 * (std::exp((position + 1.0) * step / 1127.0) - 1.0);
}

double position(const std::string& symbol) {
    for (size_t k = 0; k < symbols.size(); ++k) {
        if (symbols[k] == symbol) {
            return 18.0 + static_cast<double>(k);
        }
    }
    throw std::invalid_argument("no tone for " + symbol);
}

Samples silence(double seconds) {
    return Samples(static_cast<size_t>(std::lround(seconds * rate)), 0.0f);
}

Samples tone(double at, double seconds, float amplitude) {
    const double pi = std::acos(-1.0);
    size_t count = static_cast<size_t>(std::lround(seconds * rate));
    size_t ramp = static_cast<size_t>(0.005 * rate);
    double hertz = frequency(at);
    Samples samples(count);
    for (size_t i = 0; i < count; ++i) {
        double gain = 1.0;
        size_t fromEnd = count - 1 - i;
        if (i < ramp || fromEnd < ramp) {
            double x = static_cast<double>(std::min(i, fromEnd)) / static_cast<double>(ramp);
            gain = 0.5 - 0.5 * std::cos(pi * x);
        }
        samples[i] = static_cast<float>(amplitude * gain * std::sin(2.0 * pi * hertz * static_cast<double>(i) / rate));
    }
    return samples;
}

Samples speech(const std::string& text) {
    Samples out;
    auto say = [&](const std::string& symbol) {
        append(out, tone(position(symbol)));
        append(out, silence(0.06));
    };
    std::string word;
    auto flushWord = [&] {
        if (word.empty()) {
            return;
        }
        say("▁");
        for (const auto& c : characters(word)) {
            if (c == "_") {
                say("▁");
            } else {
                say(c);
            }
        }
        word.clear();
    };
    for (char c : text) {
        if (c == ' ') {
            flushWord();
        } else {
            word += c;
        }
    }
    flushWord();
    return out;
}

Samples phrase(const std::string& text) {
    Samples out = silence(0.1);
    append(out, speech(text));
    append(out, silence(0.2));
    return out;
}

bool writeWav(const std::filesystem::path& file, const Samples& samples, int rate, int channels) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* sound = sf_open(file.c_str(), SFM_WRITE, &info);
    if (sound == nullptr) {
        return false;
    }
    size_t frames = static_cast<size_t>(static_cast<double>(samples.size()) * rate / 16000.0);
    std::vector<float> interleaved(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < frames; ++i) {
        double source = static_cast<double>(i) * 16000.0 / rate;
        size_t lo = static_cast<size_t>(source);
        size_t hi = std::min(lo + 1, samples.size() - 1);
        float fraction = static_cast<float>(source - static_cast<double>(lo));
        float value = samples[lo] + (samples[hi] - samples[lo]) * fraction;
        for (int c = 0; c < channels; ++c) {
            interleaved[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] = value;
        }
    }
    bool written =
        sf_writef_float(sound, interleaved.data(), static_cast<sf_count_t>(frames)) == static_cast<sf_count_t>(frames);
    return sf_close(sound) == 0 && written;
}

void append(Samples& to, const Samples& more) {
    to.insert(to.end(), more.begin(), more.end());
}

} // namespace tones
