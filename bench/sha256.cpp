// Hashes a file the size of the speech model's encoder with the model store's routine and with
// coreutils' sha256sum in the same run, and prints the speed of both. The store's routine is
// expected to reach at least 0.9 of sha256sum's speed.
//
// Usage: bench_sha256 [folder for the 224 MB scratch file, default: the temporary folder]

#include "speech/Sha256.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::uint64_t fileSize = 224570820; // the encoder's size
const int rounds = 3;

void writeScratch(const std::filesystem::path& file) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::vector<std::uint64_t> block(speech::sha256ChunkSize / sizeof(std::uint64_t));
    std::uint64_t state = 0x9e3779b97f4a7c15ull;
    std::uint64_t left = fileSize;
    while (left > 0) {
        for (auto& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        auto count = std::min<std::uint64_t>(left, block.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(count));
        left -= count;
    }
}

std::string sha256sum(const std::filesystem::path& file) {
    std::string command = "sha256sum '" + file.string() + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    char digest[65] = {};
    std::size_t count = std::fread(digest, 1, 64, pipe);
    ::pclose(pipe);
    return std::string(digest, count);
}

template <typename Work> double bestSeconds(Work work, std::string& result) {
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        result = work();
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    std::filesystem::path folder = argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    auto file = folder / "ruvex-bench-sha256.bin";
    writeScratch(file);
    // One pass of each first so that both read from the page cache.
    auto ours = speech::sha256(file).value_or("");
    auto theirs = sha256sum(file);

    double oursSeconds = bestSeconds([&] { return speech::sha256(file).value_or(""); }, ours);
    double theirsSeconds = bestSeconds([&] { return sha256sum(file); }, theirs);
    std::filesystem::remove(file);

    double megabytes = static_cast<double>(fileSize) / 1e6;
    std::printf("file: %.1f MB, best of %d runs each\n", megabytes, rounds);
    std::printf("speech::sha256: %8.1f MB/s\n", megabytes / oursSeconds);
    std::printf("sha256sum:      %8.1f MB/s\n", megabytes / theirsSeconds);
    std::printf("ratio:          %8.2f (expected >= 0.9)\n", theirsSeconds / oursSeconds);
    if (ours != theirs || ours.size() != 64) {
        std::printf("digests differ: %s vs %s\n", ours.c_str(), theirs.c_str());
        return 1;
    }
    return 0;
}
