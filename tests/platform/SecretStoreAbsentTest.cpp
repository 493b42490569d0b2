#include "platform/linux/LibsecretStore.h"

#include "support/SecretServiceRig.h"
#include "support/TempDir.h"
#include "text/Keychain.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using platform::lnx::LibsecretStore;
using text::Keychain;

void expectNothingWorks() {
    LibsecretStore store;
    EXPECT_EQ(store.lookup("app.ruvex.voice", "deepseek"), std::nullopt);
    EXPECT_FALSE(store.store("app.ruvex.voice", "deepseek", "Ruvex Voice: ключ DeepSeek", "sk-nowhere"));
    EXPECT_FALSE(store.clear("app.ruvex.voice", "deepseek"));

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
