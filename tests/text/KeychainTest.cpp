#include "text/Keychain.h"

#include "fakes/MemorySecretStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using text::Keychain;

class KeychainTest : public ::testing::Test {
protected:
    std::optional<std::string> stored() const { return store->peek("app.ruvex.voice", "deepseek"); }
    std::shared_ptr<fakes::MemorySecretStore> store = std::make_shared<fakes::MemorySecretStore>();
    Keychain keys{store};
};

TEST_F(KeychainTest, SavedKeyIsTrimmedAndServedFromTheCache) {
    keys.setAiKey(std::string(" \t sk-ключ-42\n "));
    EXPECT_EQ(stored(), "sk-ключ-42");
    EXPECT_EQ(store->labelOf("app.ruvex.voice", "deepseek"), "Ruvex Voice: ключ DeepSeek");
    EXPECT_EQ(keys.aiKey(), "sk-ключ-42");
    EXPECT_EQ(keys.aiKey(), "sk-ключ-42");
    EXPECT_EQ(store->lookupCount(), 0);

    // Unicode white space and line breaks count too.
    keys.setAiKey(std::string("\u00A0\u2028sk-2\u3000\r\n"));
    EXPECT_EQ(stored(), "sk-2");
    EXPECT_EQ(keys.aiKey(), "sk-2");
}

TEST_F(KeychainTest, BlankOrNoValueDeletesTheKeyWithoutAnotherLookup) {
    store->put("app.ruvex.voice", "deepseek", "sk-old");
    EXPECT_EQ(keys.aiKey(), "sk-old");
    EXPECT_EQ(store->lookupCount(), 1);

    keys.setAiKey(std::string("   \n"));
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_EQ(store->storeCount(), 0);
    EXPECT_EQ(keys.aiKey(), std::nullopt);

    keys.setAiKey(std::string("sk-new"));
    keys.setAiKey(std::nullopt);
    EXPECT_EQ(stored(), std::nullopt);
    EXPECT_EQ(keys.aiKey(), std::nullopt);
    EXPECT_EQ(store->lookupCount(), 1);
    EXPECT_EQ(store->clearCount(), 3);
}

TEST_F(KeychainTest, AbsentKeyIsLookedUpOnce) {
    EXPECT_EQ(keys.aiKey(), std::nullopt);
    EXPECT_EQ(keys.aiKey(), std::nullopt);
    EXPECT_EQ(store->lookupCount(), 1);

    // Another program storing a key meanwhile is seen at the next start.
    store->put("app.ruvex.voice", "deepseek", "sk-later");
    EXPECT_EQ(keys.aiKey(), std::nullopt);
    EXPECT_EQ(Keychain(store).aiKey(), "sk-later");
}

TEST_F(KeychainTest, StoreFailuresLookLikeNoKey) {
    store->put("app.ruvex.voice", "deepseek", "sk-unreachable");
    store->setFailing(true);
    EXPECT_EQ(keys.aiKey(), std::nullopt);
    keys.setAiKey(std::string("sk-lost"));
    EXPECT_EQ(keys.aiKey(), std::nullopt);

    Keychain none(nullptr);
    EXPECT_EQ(none.aiKey(), std::nullopt);
    none.setAiKey(std::string("sk-nowhere"));
    EXPECT_EQ(none.aiKey(), std::nullopt);
}

TEST_F(KeychainTest, ConcurrentReadersAndAWriterAgree) {
    store->put("app.ruvex.voice", "deepseek", "sk-1");
    std::vector<std::thread> readers;
    std::vector<std::string> seen(4);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        readers.emplace_back([this, &seen, i] {
            for (int n = 0; n < 200; ++n) {
                seen[i] = keys.aiKey().value_or("none");
            }
        });
    }
    for (int n = 0; n < 50; ++n) {
        keys.setAiKey(std::string("sk-2"));
    }
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(keys.aiKey(), "sk-2");
    for (const auto& value : seen) {
        // Between the removal and the new item the key is briefly absent.
        EXPECT_TRUE(value == "sk-1" || value == "sk-2" || value == "none") << value;
    }
}

TEST(RuvexKey, ReadsTheDeveloperFileUnderHome) {
    testsupport::IsolatedHome home;
    EXPECT_EQ(Keychain::ruvexKey(), std::nullopt);
    EXPECT_EQ(Keychain::ruvexFile(), home.path() / "Projects" / "halvik-local" / ".env");
    testsupport::writeFile(Keychain::ruvexFile(), "# ключи\nLLM_API_KEY=\"sk-dev\"\n");
    EXPECT_EQ(Keychain::ruvexKey(), "sk-dev");
}

TEST(RuvexKey, ParsesNamesValuesQuotesAndComments) {
    EXPECT_EQ(Keychain::ruvexKey("LLM_API_KEY=\"sk-quoted\""), "sk-quoted");
    EXPECT_EQ(Keychain::ruvexKey("LLM_API_KEY='sk-single'\n"), "sk-single");
    EXPECT_EQ(Keychain::ruvexKey(" \tLLM_API_KEY \t=  \"'sk-mixed'\"\t\n"), "sk-mixed");
    // Only the first "=" after the name splits; leading ones are skipped.
    EXPECT_EQ(Keychain::ruvexKey("==LLM_API_KEY=sk=with=equals"), "sk=with=equals");
    // A later line replaces an earlier one; a line without a value changes nothing.
    EXPECT_EQ(Keychain::ruvexKey("LLM_API_KEY=sk-1\nLLM_API_KEY=sk-2\nLLM_API_KEY=\nLLM_API_KEY"), "sk-2");
    // A value of quotes alone is empty: no key.
    EXPECT_EQ(Keychain::ruvexKey("LLM_API_KEY=\"\""), std::nullopt);
    EXPECT_EQ(Keychain::ruvexKey("LLM_API_KEY=sk-1\nLLM_API_KEY=\"\""), std::nullopt);

    EXPECT_EQ(Keychain::ruvexKey("#LLM_API_KEY=sk-commented"), std::nullopt);
    // An indented "#" is not a comment: the name begins with "#" and matches nothing.
    EXPECT_EQ(Keychain::ruvexKey("  #LLM_API_KEY=sk-indented"), std::nullopt);
    EXPECT_EQ(Keychain::ruvexKey("  # LLM_API_KEY=sk-x\nLLM_API_KEY=sk-real"), "sk-real");
    EXPECT_EQ(Keychain::ruvexKey(""), std::nullopt);
    EXPECT_EQ(Keychain::ruvexKey("OTHER=1"), std::nullopt);
    // Not UTF-8: unreadable.
    EXPECT_EQ(Keychain::ruvexKey("LLM_API_KEY=sk-\xFF"), std::nullopt);
}

TEST(RuvexKey, KeysForOtherServicesAreRefused) {
    EXPECT_EQ(Keychain::ruvexKey("LLM_BASE_URL=https://api.openai.com/v1\nLLM_API_KEY=sk-other"), std::nullopt);
    EXPECT_EQ(Keychain::ruvexKey("LLM_API_KEY=sk-other\nLLM_BASE_URL=https://api.other.example"), std::nullopt);
    EXPECT_EQ(Keychain::ruvexKey("LLM_BASE_URL=https://api.deepseek.com\nLLM_API_KEY=sk-ds"), "sk-ds");
    // The test is case-sensitive, and an empty base URL is another service too.
    EXPECT_EQ(Keychain::ruvexKey("LLM_BASE_URL=https://api.DeepSeek.com\nLLM_API_KEY=sk-ds"), std::nullopt);
    EXPECT_EQ(Keychain::ruvexKey("LLM_BASE_URL=\"\"\nLLM_API_KEY=sk-ds"), std::nullopt);
    // A base URL line without a value is skipped: the key counts as a DeepSeek key.
    EXPECT_EQ(Keychain::ruvexKey("LLM_BASE_URL=\nLLM_API_KEY=sk-ds"), "sk-ds");
}

} // namespace
