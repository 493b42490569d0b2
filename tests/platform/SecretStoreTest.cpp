// The Secret Service key store against a real gnome-keyring on a private bus, and without one.
#include "platform/linux/LibsecretStore.h"

#include "fakes/MemorySecretStore.h"
#include "support/SecretServiceRig.h"
#include "support/TempDir.h"
#include "text/Keychain.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

using platform::lnx::LibsecretStore;
using testsupport::runProgram;
using text::Keychain;

const std::string service = "app.ruvex.voice";
const std::string label = "Ruvex Voice: ключ DeepSeek";

std::optional<std::string> toolLookup() {
    auto found = runProgram({"secret-tool", "lookup", "service", service, "account", "deepseek"});
    return found.status == 0 ? std::optional<std::string>(found.output) : std::nullopt;
}

/// A private home, session bus and unlocked gnome-keyring for each test process.
class KeyringTest : public ::testing::Test {
protected:
    testsupport::IsolatedHome home;
    testsupport::SessionBus bus;
    testsupport::Keyring keyring{bus};
    LibsecretStore store;
};

TEST_F(KeyringTest, StoresFindsReplacesAndClearsSecretsAlsoThoseOfSecretTool) {
    EXPECT_EQ(store.lookup(service, "deepseek"), std::nullopt);
    EXPECT_TRUE(store.store(service, "deepseek", label, "ключ-сек рет"));
    EXPECT_EQ(store.lookup(service, "deepseek"), "ключ-сек рет");
    EXPECT_EQ(toolLookup(), "ключ-сек рет");
    EXPECT_EQ(store.lookup(service, "other"), std::nullopt);

    EXPECT_TRUE(store.store(service, "deepseek", label, "sk-2"));
    EXPECT_EQ(store.lookup(service, "deepseek"), "sk-2");
    auto listed = runProgram({"secret-tool", "search", "--all", "service", service});
    EXPECT_NE(listed.output.find("label = " + label), std::string::npos) << listed.output;

    EXPECT_TRUE(store.clear(service, "deepseek"));
    EXPECT_EQ(store.lookup(service, "deepseek"), std::nullopt);
    EXPECT_EQ(toolLookup(), std::nullopt);
    EXPECT_TRUE(store.clear(service, "deepseek")) << "nothing left to remove is no failure";

    auto stored = runProgram({"secret-tool", "store", "--label=DeepSeek", "service", service, "account", "deepseek"},
                             "sk-from-tool");
    ASSERT_EQ(stored.status, 0);
    EXPECT_EQ(store.lookup(service, "deepseek"), "sk-from-tool");
    EXPECT_TRUE(store.clear(service, "deepseek"));
    EXPECT_EQ(toolLookup(), std::nullopt);
}

TEST_F(KeyringTest, KeychainCachesTrimsAndDeletes) {
    auto counting = std::make_shared<fakes::CountingSecretStore>(std::make_shared<LibsecretStore>());
    Keychain::useStore(counting);
    EXPECT_EQ(Keychain::aiKey(), std::nullopt);
    EXPECT_EQ(Keychain::aiKey(), std::nullopt);
    EXPECT_EQ(counting->lookupCount(), 1);

    Keychain::setAiKey(std::string("  sk-ключ-Ω\n"));
    EXPECT_EQ(toolLookup(), "sk-ключ-Ω");
    EXPECT_EQ(Keychain::aiKey(), "sk-ключ-Ω");
    EXPECT_EQ(counting->lookupCount(), 1);

    // A fresh run reads it from the keyring once.
    Keychain::resetCache();
    EXPECT_EQ(Keychain::aiKey(), "sk-ключ-Ω");
    EXPECT_EQ(Keychain::aiKey(), "sk-ключ-Ω");
    EXPECT_EQ(counting->lookupCount(), 2);

    Keychain::setAiKey(std::string(" \t "));
    EXPECT_EQ(toolLookup(), std::nullopt);
    EXPECT_EQ(Keychain::aiKey(), std::nullopt);
    EXPECT_EQ(counting->lookupCount(), 2);
    Keychain::useStore(nullptr);
}

TEST_F(KeyringTest, AHungProviderDoesNotHoldTheCaller) {
    ASSERT_TRUE(store.store(service, "deepseek", label, "sk-held"));
    keyring.pause();
    // Without the bound each of these would wait 25 s or more for D-Bus, beyond the test's time limit.
    EXPECT_EQ(store.lookup(service, "deepseek"), std::nullopt);
    EXPECT_FALSE(store.store(service, "deepseek", label, "sk-other"));
    keyring.resume();
    // Usable again (the abandoned store may or may not have reached the provider).
    auto after = store.lookup(service, "deepseek");
    EXPECT_TRUE(after == "sk-held" || after == "sk-other") << after.value_or("none");
}

void expectNothingWorks() {
    LibsecretStore store;
    EXPECT_EQ(store.lookup(service, "deepseek"), std::nullopt);
    EXPECT_FALSE(store.store(service, "deepseek", label, "sk-nowhere"));
    EXPECT_FALSE(store.clear(service, "deepseek"));

    Keychain::useStore(std::make_shared<LibsecretStore>());
    EXPECT_EQ(Keychain::aiKey(), std::nullopt);
    Keychain::setAiKey(std::string("sk-nowhere"));
    EXPECT_EQ(Keychain::aiKey(), std::nullopt);
    Keychain::useStore(nullptr);
}

TEST(SecretStoreWithoutProvider, ABusWithoutASecretServiceGivesNoKey) {
    testsupport::IsolatedHome home;
    testsupport::SessionBus bus;
    ASSERT_FALSE(bus.hasOwner("org.freedesktop.secrets"));
    expectNothingWorks();
}

TEST(SecretStoreWithoutProvider, NoBusGivesNoKey) {
    testsupport::IsolatedHome home;
    testsupport::TempDir nowhere;
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (nowhere / "no-bus").string()).c_str(), 1);
    unsetenv("DISPLAY");
    expectNothingWorks();
}

} // namespace
