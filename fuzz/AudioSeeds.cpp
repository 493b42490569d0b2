// Writes the generated seed inputs of the audio target: short files in the formats libsndfile
// reads, and the hostile headers that were faults once (a FLAC claiming 2^36 samples, a WAV at
// 1 Hz, a WAV whose data chunk claims 4 GB).
// Usage: fuzz_audio_seeds OUTPUT_DIR

#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::filesystem::path folder;

bool write(const std::string& name, int format, int rate, int channels, double seconds) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    if (!sf_format_check(&info)) {
        return false;
    }
    SNDFILE* sound = sf_open((folder / name).c_str(), SFM_WRITE, &info);
    if (sound == nullptr) {
        return false;
    }
    auto frames = static_cast<size_t>(seconds * rate);
    std::vector<float> samples(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.3f * static_cast<float>(std::sin(static_cast<double>(i / static_cast<size_t>(channels)) * 0.2));
    }
    sf_writef_float(sound, samples.data(), static_cast<sf_count_t>(frames));
    return sf_close(sound) == 0;
}

std::string read(const std::string& name) {
    std::ifstream in(folder / name, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void save(const std::string& name, const std::string& data) {
    std::ofstream(folder / name, std::ios::binary) << data;
}

void setLittle32(std::string& data, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        data[at + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    folder = argv[1];
    std::filesystem::create_directories(folder);
    write("mono-16k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16000, 1, 0.1);
    write("stereo-48k-float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, 0.05);
    write("mono-8k.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, 0.1);
    write("mono-22k.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 22050, 1, 0.1);
    write("stereo-44k.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 44100, 2, 0.02);
    write("mono-16k.au", SF_FORMAT_AU | SF_FORMAT_ULAW, 16000, 1, 0.05);
    write("six-channels.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, 16000, 6, 0.02);

    std::string flac = read("mono-8k.flac");
    flac[21] = static_cast<char>(flac[21] | 0x0F);
    flac.replace(22, 4, "\xFF\xFF\xFF\xFF");
    save("claims-2-36-samples.flac", flac);
    std::string wav = read("mono-16k.wav");
    std::string slow = wav;
    setLittle32(slow, 24, 1);
    setLittle32(slow, 28, 2);
    save("rate-1-hz.wav", slow);
    setLittle32(wav, 40, 0xFFFFFFFF);
    save("data-claims-4-gb.wav", wav);
    return 0;
}
