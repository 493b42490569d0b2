#pragma once

#include "platform/SecretStore.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace fakes {

/// Secrets in memory, by account (the service is always the program's), counting what it was asked.
/// With `failing` set every call fails, as a store without a provider does. Callable from any thread.
class MemorySecretStore : public platform::SecretStore {
public:
    std::optional<std::string> lookup(const std::string&, const std::string& account) override {
        std::lock_guard lock(mutex);
        ++lookups;
        auto found = items.find(account);
        return failing || found == items.end() || found->second.empty() ? std::nullopt : std::optional(found->second);
    }
    bool store(const std::string&, const std::string& account, const std::string& label,
               const std::string& secret) override {
        std::lock_guard lock(mutex);
        ++stores;
        if (failing)
            return false;
        items[account] = secret;
        lastLabel = label;
        return true;
    }
    bool clear(const std::string&, const std::string& account) override {
        std::lock_guard lock(mutex);
        ++clears;
        if (failing)
            return false;
        items.erase(account);
        return true;
    }
    /// What is stored for `account`, without counting a lookup.
    std::optional<std::string> peek(const std::string& account = "deepseek") {
        std::lock_guard lock(mutex);
        auto found = items.find(account);
        return found == items.end() ? std::nullopt : std::optional(found->second);
    }
    void put(const std::string& secret, const std::string& account = "deepseek") {
        std::lock_guard lock(mutex);
        items[account] = secret;
    }

    std::mutex mutex;
    std::map<std::string, std::string> items;
    std::string lastLabel;
    int lookups = 0, stores = 0, clears = 0;
    bool failing = false;
};

} // namespace fakes
