#include "core/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace core::paths {

namespace {

const char* const appFolder = "Ruvex Voice";

std::filesystem::path fromEnvironment(const char* name, const std::filesystem::path& fallback) {
    const char* value = std::getenv(name);
    // The XDG rules ignore empty and relative values.
    if (value != nullptr && value[0] == '/') {
        return value;
    }
    return fallback;
}

} // namespace

std::filesystem::path home() {
    if (const char* value = std::getenv("HOME"); value != nullptr && value[0] != '\0') {
        return value;
    }
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

std::filesystem::path applicationSupport() {
    return fromEnvironment("XDG_DATA_HOME", home() / ".local/share") / appFolder;
}

std::filesystem::path configHome() {
    return fromEnvironment("XDG_CONFIG_HOME", home() / ".config");
}

std::filesystem::path configDirectory() {
    return configHome() / appFolder;
}

std::filesystem::path runtimeDirectory() {
    return fromEnvironment("XDG_RUNTIME_DIR",
                           std::filesystem::temp_directory_path() / ("ruvex-voice-" + std::to_string(getuid())));
}

} // namespace core::paths
