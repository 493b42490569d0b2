#pragma once

#include <optional>
#include <string>

namespace platform {

/// A store of small secrets (API keys) kept by the desktop, addressed by a service and an account
/// name. Every call returns within a few seconds whatever the provider does, and any failure
/// (no provider, a locked or missing collection, a hung daemon) reads as "no secret" or false.
/// Callable from any thread; a call blocks its caller until it has an answer or gives up.
class SecretStore {
public:
    SecretStore() = default;
    virtual ~SecretStore() = default;
    SecretStore(const SecretStore&) = delete;
    SecretStore& operator=(const SecretStore&) = delete;

    /// The secret stored for `service` and `account`; nothing when there is none, it is empty or
    /// not UTF-8, or the store failed.
    virtual std::optional<std::string> lookup(const std::string& service, const std::string& account) = 0;

    /// Stores `secret` for `service` and `account`, replacing an earlier one. `label` is what the
    /// desktop's key manager shows. False when nothing was stored.
    virtual bool store(const std::string& service, const std::string& account, const std::string& label,
                       const std::string& secret) = 0;

    /// Removes every secret stored for `service` and `account`. False when the store failed; a
    /// secret that was not there is not a failure.
    virtual bool clear(const std::string& service, const std::string& account) = 0;
};

} // namespace platform
