#pragma once

#include "platform/SecretStore.h"

#include <memory>

namespace platform::lnx {

/// The desktop's Secret Service (gnome-keyring, KWallet, KeePassXC) through libsecret. Items carry
/// the string attributes "service" and "account" and are matched by those alone, whatever schema
/// stored them, so an item made with `secret-tool store ... service S account A` is found.
///
/// A provider can hang for a long time (a stopped daemon holds a call for 50 s), so every call is
/// bounded: the work runs asynchronously on a private GLib thread owned by this object, and the
/// caller waits at most `timeoutSeconds` before it cancels the call and reports failure.
class LibsecretStore : public SecretStore {
public:
    explicit LibsecretStore(double timeoutSeconds = 3.0);
    ~LibsecretStore() override;

    std::optional<std::string> lookup(const std::string& service, const std::string& account) override;
    bool store(const std::string& service, const std::string& account, const std::string& label,
               const std::string& secret) override;
    bool clear(const std::string& service, const std::string& account) override;

private:
    class Worker;
    struct Operation;
    /// Runs `operation` on the worker and waits for it within the bound; false when it timed out.
    bool perform(const std::shared_ptr<Operation>& operation);

    double timeoutSeconds;
    std::unique_ptr<Worker> worker;
};

/// The secret store of this desktop, for the program to install at start-up.
std::shared_ptr<SecretStore> makeSecretStore();

} // namespace platform::lnx
