#include "core/Defaults.h"

#include "core/AtomicFile.h"
#include "core/Paths.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace core {

namespace {

// One lock for the whole process: writers read-modify-write the file, and two stores may name
// the same file.
std::mutex& fileLock() {
    static std::mutex lock;
    return lock;
}

enum class FileState { missing, good, damaged };

FileState readObject(const std::filesystem::path& file, nlohmann::json& object) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::filesystem::exists(file) ? FileState::damaged : FileState::missing;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    object = nlohmann::json::parse(buffer.str(), nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        object = nlohmann::json::object();
        return FileState::damaged;
    }
    return FileState::good;
}

nlohmann::json lookup(const std::filesystem::path& file, const std::string& key) {
    std::lock_guard lock(fileLock());
    nlohmann::json object;
    if (readObject(file, object) != FileState::good || !object.contains(key)) {
        return nullptr;
    }
    return object[key];
}

template <typename Change> bool modify(const std::filesystem::path& file, Change change) {
    std::lock_guard lock(fileLock());
    nlohmann::json object;
    if (readObject(file, object) == FileState::damaged) {
        // Keep what the user had before it is replaced; an older copy makes room for this one.
        std::error_code ignored;
        std::filesystem::rename(file, file.string() + ".bad", ignored);
        object = nlohmann::json::object();
    }
    change(object);
    return writeAtomically(file, object.dump(2) + "\n");
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
