#include "platform/linux/LibsecretStore.h"

#include "fakes/MemorySecretStore.h"
#include "support/SecretServiceRig.h"
#include "support/TempDir.h"
#include "text/Keychain.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using platform::lnx::LibsecretStore;
using testsupport::runProgram;
using text::Keychain;

/// A private home, session bus and unlocked gnome-keyring for each test process.
class KeyringTest : public ::testing::Test {
protected:
    static std::optional<std::string> toolLookup() {
        auto found = runProgram({"secret-tool", "lookup", "service", "app.ruvex.voice", "account", "deepseek"});
        return found.status == 0 ? std::optional<std::string>(found.output) : std::nullopt;
    }

    testsupport::IsolatedHome home;
    testsupport::SessionBus bus;
    testsupport::Keyring keyring{bus};
};

TEST_F(KeyringTest, StoresFindsReplacesAndClearsSecrets) {
    LibsecretStore store;
    EXPECT_EQ(store.lookup("app.ruvex.voice", "deepseek"), std::nullopt);
    EXPECT_TRUE(store.store("app.ruvex.voice", "deepseek", "Ruvex Voice: ключ DeepSeek", "ключ-сек рет"));
    EXPECT_EQ(store.lookup("app.ruvex.voice", "deepseek"), "ключ-сек рет");
    EXPECT_EQ(toolLookup(), "ключ-сек рет");
    // Another account is another item.
    EXPECT_EQ(store.lookup("app.ruvex.voice", "other"), std::nullopt);

    EXPECT_TRUE(store.store("app.ruvex.voice", "deepseek", "Ruvex Voice: ключ DeepSeek", "sk-2"));
    EXPECT_EQ(store.lookup("app.ruvex.voice", "deepseek"), "sk-2");
    auto listed = runProgram({"secret-tool", "search", "--all", "service", "app.ruvex.voice"});
    EXPECT_NE(listed.output.find("label = Ruvex Voice: ключ DeepSeek"), std::string::npos) << listed.output;

    EXPECT_TRUE(store.clear("app.ruvex.voice", "deepseek"));
    EXPECT_EQ(store.lookup("app.ruvex.voice", "deepseek"), std::nullopt);
    EXPECT_EQ(toolLookup(), std::nullopt);
    // Nothing left to remove is no failure.
    EXPECT_TRUE(store.clear("app.ruvex.voice", "deepseek"));
}

TEST_F(KeyringTest, FindsAKeyStoredBySecretTool) {
    auto stored =
        runProgram({"secret-tool", "store", "--label=DeepSeek", "service", "app.ruvex.voice", "account", "deepseek"},
                   "sk-from-tool");
    ASSERT_EQ(stored.status, 0);
    LibsecretStore store;
    EXPECT_EQ(store.lookup("app.ruvex.voice", "deepseek"), "sk-from-tool");
    // And every such item goes with a clear.
    EXPECT_TRUE(store.clear("app.ruvex.voice", "deepseek"));
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
    LibsecretStore store;
    ASSERT_TRUE(store.store("app.ruvex.voice", "deepseek", "Ruvex Voice: ключ DeepSeek", "sk-held"));
    keyring.pause();
    // Without the bound each of these would wait 25 s or more for D-Bus (the test's time limit
    // is well below that).
    EXPECT_EQ(store.lookup("app.ruvex.voice", "deepseek"), std::nullopt);
    EXPECT_FALSE(store.store("app.ruvex.voice", "deepseek", "Ruvex Voice: ключ DeepSeek", "sk-other"));
    keyring.resume();
    // The store is usable again once the provider answers (the abandoned store may or may not
    // have reached it).
    auto after = store.lookup("app.ruvex.voice", "deepseek");
    EXPECT_TRUE(after == "sk-held" || after == "sk-other") << after.value_or("none");
}

} // namespace
