#pragma once

#include "platform/SecretStore.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace fakes {

/// A secret store in memory that counts what it was asked. With `failing` set every call fails,
/// as a store without a provider does.
class MemorySecretStore : public platform::SecretStore {
public:
    std::optional<std::string> lookup(const std::string& service, const std::string& account) override {
        std::lock_guard lock(mutex);
        ++lookups;
        if (failing) {
            return std::nullopt;
        }
        auto found = items.find({service, account});
        if (found == items.end() || found->second.empty()) {
            return std::nullopt;
        }
        return found->second;
    }

    bool store(const std::string& service, const std::string& account, const std::string& label,
               const std::string& secret) override {
        std::lock_guard lock(mutex);
        ++stores;
        if (failing) {
            return false;
        }
        items[{service, account}] = secret;
        labels[{service, account}] = label;
        return true;
    }

    bool clear(const std::string& service, const std::string& account) override {
        std::lock_guard lock(mutex);
        ++clears;
        if (failing) {
            return false;
        }
        items.erase({service, account});
        return true;
    }

    /// What is stored, without counting a lookup.
    std::optional<std::string> peek(const std::string& service, const std::string& account) const {
        std::lock_guard lock(mutex);
        auto found = items.find({service, account});
        return found == items.end() ? std::nullopt : std::optional<std::string>(found->second);
    }

    void put(const std::string& service, const std::string& account, const std::string& secret) {
        std::lock_guard lock(mutex);
        items[{service, account}] = secret;
    }

    int lookupCount() const {
        std::lock_guard lock(mutex);
        return lookups;
    }
    int storeCount() const {
        std::lock_guard lock(mutex);
        return stores;
    }
    int clearCount() const {
        std::lock_guard lock(mutex);
        return clears;
    }
    std::string labelOf(const std::string& service, const std::string& account) const {
        std::lock_guard lock(mutex);
        auto found = labels.find({service, account});
        return found == labels.end() ? std::string() : found->second;
    }

    void setFailing(bool value) {
        std::lock_guard lock(mutex);
        failing = value;
    }

private:
    mutable std::mutex mutex;
    std::map<std::pair<std::string, std::string>, std::string> items;
    std::map<std::pair<std::string, std::string>, std::string> labels;
    int lookups = 0;
    int stores = 0;
    int clears = 0;
    bool failing = false;
};

} // namespace fakes
