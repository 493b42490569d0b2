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
    std::shared_ptr<fakes::MemorySecretStore> store = std::make_shared<fakes::MemorySecretStore>();
    Keychain keys{store};
};

TEST_F(KeychainTest, AKeyIsStoredTrimmedReadOnceAndABlankOneRemovesIt) {
    keys.setAiKey(std::string(" \t\u00A0\u2028sk-ключ-42\u3000\r\n "));
    EXPECT_EQ(store->peek(), "sk-ключ-42");
    EXPECT_EQ(store->lastLabel, "Ruvex Voice: ключ DeepSeek");
    EXPECT_EQ(keys.aiKey(), "sk-ключ-42");
    EXPECT_EQ(store->lookups, 0) << "served from the cache";

    keys.setAiKey(std::string("   \n"));
    EXPECT_EQ(store->peek(), std::nullopt);
    EXPECT_EQ(keys.aiKey(), std::nullopt);
    keys.setAiKey(std::string("sk-new"));
    keys.setAiKey(std::nullopt);
    EXPECT_EQ(store->peek(), std::nullopt);
    EXPECT_EQ(store->stores, 2) << "a blank key stores nothing";
    EXPECT_EQ(store->clears, 4);

    // An absent key is looked up once; a key stored by another program is seen at the next start.
    Keychain fresh(store);
    EXPECT_EQ(fresh.aiKey(), std::nullopt);
    store->put("sk-later");
    EXPECT_EQ(fresh.aiKey(), std::nullopt);
    EXPECT_EQ(store->lookups, 1);
    EXPECT_EQ(Keychain(store).aiKey(), "sk-later");
}

TEST_F(KeychainTest, StoreFailuresLookLikeNoKeyAndConcurrentReadersAgree) {
    store->put("sk-unreachable");
    store->failing = true;
    EXPECT_EQ(keys.aiKey(), std::nullopt);
    keys.setAiKey(std::string("sk-lost"));
    EXPECT_EQ(keys.aiKey(), std::nullopt);
    Keychain none(nullptr);
    none.setAiKey(std::string("sk-nowhere"));
    EXPECT_EQ(none.aiKey(), std::nullopt);

    store->failing = false;
    Keychain shared(store);
    std::vector<std::thread> readers;
    std::vector<std::string> seen(4);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        readers.emplace_back([&shared, &seen, i] {
            for (int n = 0; n < 200; ++n)
                seen[i] = shared.aiKey().value_or("none");
        });
    }
    for (int n = 0; n < 50; ++n)
        shared.setAiKey(std::string("sk-2"));
    for (auto& reader : readers)
        reader.join();
    EXPECT_EQ(shared.aiKey(), "sk-2");
    for (const auto& value : seen) // between the removal and the new item the key is briefly absent
        EXPECT_TRUE(value == "sk-unreachable" || value == "sk-2" || value == "none") << value;
}

TEST(RuvexKey, ReadsTheDeveloperFileItsNamesValuesQuotesAndCommentsAndRefusesOtherServicesKeys) {
    testsupport::IsolatedHome home;
    EXPECT_EQ(Keychain::ruvexKey(), std::nullopt);
    EXPECT_EQ(Keychain::ruvexFile(), home.path() / "Projects" / "halvik-local" / ".env");
    testsupport::writeFile(Keychain::ruvexFile(), "# ключи\nLLM_API_KEY=\"sk-dev\"\n");
    EXPECT_EQ(Keychain::ruvexKey(), "sk-dev");

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

    // Keys for other services are refused.
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
