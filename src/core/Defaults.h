#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

namespace core {

/// The user's settings ("triggerKey", "aiCleanup", "style", "english", "onboardingDone"), kept as a
/// small JSON object in a file. Every write is persisted at once and atomically; other keys are kept.
/// A missing file reads as empty; a damaged one reads as empty too and is kept aside as "<file>.bad"
/// before the first write replaces it. Reads go to the file each time, so every holder sees the
/// latest value. Safe to use from any thread.
class Defaults {
public:
    explicit Defaults(std::filesystem::path file);

    /// The store the program uses: "settings.json" in the config directory, resolved at each call.
    static Defaults standard();

    std::optional<bool> boolean(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;

    /// Each returns false when the file could not be written (the old file is then unchanged).
    bool setBoolean(const std::string& key, bool value);
    bool setString(const std::string& key, const std::string& value);
    bool remove(const std::string& key);

    const std::filesystem::path& path() const { return file; }

private:
    std::filesystem::path file;
};

} // namespace core
