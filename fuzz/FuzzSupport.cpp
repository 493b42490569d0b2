#include "FuzzSupport.h"

#include "core/Unicode.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fuzz {

void check(bool holds, const char* invariant) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", invariant);
        std::abort();
    }
}

std::vector<std::string_view> split(std::string_view data, char separator, std::size_t most) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < most) {
        auto at = data.find(separator);
        if (at == std::string_view::npos) {
            break;
        }
        parts.push_back(data.substr(0, at));
        data.remove_prefix(at + 1);
    }
    parts.push_back(data);
    return parts;
}

const std::filesystem::path& scratch() {
    static const std::filesystem::path folder = [] {
        std::error_code error;
        auto base = std::filesystem::is_directory("/dev/shm", error) ? std::filesystem::path("/dev/shm")
                                                                     : std::filesystem::temp_directory_path();
        auto path = base / ("ruvex-fuzz-" + std::to_string(::getpid()));
        std::filesystem::remove_all(path, error);
        std::filesystem::create_directories(path);
        // Removed when the run ends, however many inputs it took.
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratch(), ignored);
        });
        return path;
    }();
    return folder;
}

void writeFile(const std::filesystem::path& file, std::string_view contents) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool isUtf8(std::string_view text) {
    return core::unicode::isValidUtf8(text);
}

} // namespace fuzz
