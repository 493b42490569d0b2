#pragma once

// What every speech benchmark shares: the model folder named at run time, timing, statistics,
// resident memory and the machine's load.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

/// The value below which `fraction` of the values lie (nearest rank); 0 for none.
inline double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    size_t rank = static_cast<size_t>(fraction * static_cast<double>(values.size()) + 0.999999);
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

inline double median(const std::vector<double>& values) {
    return percentile(values, 0.5);
}

/// Resident memory of this process in MB.
inline double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atof(line.c_str() + 6) / 1024.0;
        }
    }
    return 0;
}

/// The load averages of the machine, as `uptime` shows them.
inline std::string load() {
    std::ifstream file("/proc/loadavg");
    double one = 0, five = 0, fifteen = 0;
    file >> one >> five >> fifteen;
    char text[64];
    std::snprintf(text, sizeof text, "load %.2f %.2f %.2f", one, five, fifteen);
    return text;
}

/// The model folder: the first argument that is not an option, else $RUVEX_VOICE_MODEL_DIR, else
/// the tone model of this build.
inline std::filesystem::path modelFolder(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-') {
            return argv[i];
        }
        if (std::strcmp(argv[i], "--runs") == 0 || std::strcmp(argv[i], "--threads") == 0) {
            ++i; // skips the option's value
        }
    }
    if (const char* fromEnvironment = std::getenv("RUVEX_VOICE_MODEL_DIR")) {
        return fromEnvironment;
    }
    return RUVEX_TONE_MODEL_DIR;
}

/// The value of `--name N`, or `fallback`.
inline int option(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return std::atoi(argv[i + 1]);
        }
    }
    return fallback;
}

inline bool flag(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace bench
