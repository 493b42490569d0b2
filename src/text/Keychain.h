#pragma once

#include "platform/SecretStore.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace text {

/// The user's DeepSeek API key, kept in the desktop's secret store (service "app.ruvex.voice",
/// account "deepseek") and cached for the whole run: the store is asked once, an absent key
/// included, and every write replaces the cache. Store failures are never reported: a failed
/// read looks like no key, a failed write leaves no key.
///
/// Owned by the application; read on the main thread, the engine queue and the check queue,
/// written on the main thread. A lock keeps the cache consistent between them; a read may see the
/// value before or after a concurrent write.
class Keychain {
public:
    static constexpr const char* service = "app.ruvex.voice";
    static constexpr const char* account = "deepseek";
    static constexpr const char* label = "Ruvex Voice: ключ DeepSeek";

    /// A key store over `store`; without one every key reads as absent and nothing is stored.
    explicit Keychain(std::shared_ptr<platform::SecretStore> store);
    Keychain(const Keychain&) = delete;
    Keychain& operator=(const Keychain&) = delete;

    /// The stored key, or nothing. The first read asks the store (up to a few seconds); later
    /// reads use the cache.
    std::optional<std::string> aiKey();

    /// Replaces the stored key: every stored key is removed, then a value trimmed of white space
    /// and line breaks is stored unless it is blank. Nothing removes the key too.
    void setAiKey(const std::optional<std::string>& key);

    /// The DeepSeek key of the developer configuration file "Projects/halvik-local/.env" under the
    /// home folder, read afresh at each call; nothing when the file, the key or a DeepSeek base
    /// URL is missing.
    static std::optional<std::string> ruvexKey();

    /// The same, from the text of such a file.
    static std::optional<std::string> ruvexKey(const std::string& contents);

    /// The developer configuration file.
    static std::filesystem::path ruvexFile();

private:
    const std::shared_ptr<platform::SecretStore> store;
    std::mutex mutex;
    // The cached key: unread until the first read; then absent (nothing) or present.
    bool read = false;
    std::optional<std::string> key;
    // Counts writes, so that a lookup that raced with a write does not overwrite its result.
    unsigned long long generation = 0;
};

} // namespace text
