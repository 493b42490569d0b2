#include "core/Defaults.h"

#include "core/AtomicFile.h"
#include "core/Paths.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string_view>

namespace core {

namespace {

// One lock for the whole process: writers read-modify-write the file, and two stores may name
// the same file.
std::mutex& fileLock() {
    static std::mutex lock;
    return lock;
}

// Settings are one flat object; anything nested deeper than this is damage, and copying or writing
// it out would recurse once per level.
constexpr int deepestNesting = 32;
// A few short keys; a file far larger than that is not ours.
constexpr std::size_t largestFile = 1 << 20;

enum class FileState { missing, good, damaged, unreadable };

/// True when no array or object in `text` is nested deeper than `limit`; strings are skipped.
bool shallow(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) {
                return false;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

FileState readObject(const std::filesystem::path& file, nlohmann::json& object, std::error_code& readError) {
    object = nlohmann::json::object();
    std::string text;
    readError = readRegularFile(file, text, largestFile);
    if (readError == std::errc::no_such_file_or_directory) {
        return FileState::missing;
    }
    if (readError && readError != std::errc::file_too_large) {
        return FileState::unreadable;
    }
    if (readError || !shallow(text, deepestNesting)) {
        return FileState::damaged;
    }
    auto parsed = nlohmann::json::parse(text, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        return FileState::damaged;
    }
    object = std::move(parsed);
    return FileState::good;
}

nlohmann::json lookup(const std::filesystem::path& file, const std::string& key) {
    std::lock_guard lock(fileLock());
    nlohmann::json object;
    std::error_code ignored;
    if (readObject(file, object, ignored) != FileState::good || !object.contains(key)) {
        return nullptr;
    }
    return object[key];
}

template <typename Change> bool modify(const std::filesystem::path& file, Change change) {
    std::lock_guard lock(fileLock());
    nlohmann::json object;
    std::error_code readError;
    switch (readObject(file, object, readError)) {
    case FileState::damaged: {
        // Keep what the user had before it is replaced; an older copy makes room for this one.
        std::error_code ignored;
        std::filesystem::rename(file, file.string() + ".bad", ignored);
        break;
    }
    case FileState::unreadable:
        // Replacing a file we could not read would silently drop every other setting in it.
        std::fprintf(stderr, "ruvex-voice: настройки не сохранены: файл «%s» не читается (%s)\n", file.c_str(),
                     readError.message().c_str());
        return false;
    default:
        break;
    }
    change(object);
    // A value that is not UTF-8 would make the writer throw; it is stored with replacement characters.
    return writeAtomically(file, object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

} // namespace

Defaults::Defaults(std::filesystem::path file) : file(std::move(file)) {}

Defaults Defaults::standard() {
    return Defaults(paths::configDirectory() / "settings.json");
}

std::optional<bool> Defaults::boolean(const std::string& key) const {
    auto value = lookup(file, key);
    if (!value.is_boolean()) {
        return std::nullopt;
    }
    return value.get<bool>();
}

std::optional<std::string> Defaults::string(const std::string& key) const {
    auto value = lookup(file, key);
    if (!value.is_string()) {
        return std::nullopt;
    }
    return value.get<std::string>();
}

bool Defaults::setBoolean(const std::string& key, bool value) {
    return modify(file, [&](nlohmann::json& object) { object[key] = value; });
}

bool Defaults::setString(const std::string& key, const std::string& value) {
    return modify(file, [&](nlohmann::json& object) { object[key] = value; });
}

bool Defaults::remove(const std::string& key) {
    return modify(file, [&](nlohmann::json& object) { object.erase(key); });
}

} // namespace core
