#include "text/PolishCheck.h"

#include "fakes/MemorySecretStore.h"
#include "support/ChatServer.h"
#include "support/PolishOutput.h"
#include "text/Keychain.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace {

using testsupport::ChatServer;
using text::Keychain;
using text::PolishCheck;
using text::Style;

using testsupport::polishLines;

class PolishCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        store->put("app.ruvex.voice", "deepseek", "sk-check");
        Keychain::useStore(store);
        setenv("RUVEX_VOICE_AI_URL", server.url().c_str(), 1);
    }
    void TearDown() override {
        Keychain::useStore(nullptr);
        unsetenv("RUVEX_VOICE_AI_URL");
    }

    std::vector<std::string> run(const std::vector<std::string>& arguments, const std::string& input) {
        std::istringstream in(input);
        std::ostringstream out;
        PolishCheck::run(loop, arguments, in, out);
        return polishLines(out.str());
    }

    core::RunLoop loop;
    ChatServer server;
    std::shared_ptr<fakes::MemorySecretStore> store = std::make_shared<fakes::MemorySecretStore>();
};

TEST_F(PolishCheckTest, PrintsEveryConfigurationInArgumentOrder) {
    server.setRespond([](const httplib::Request& request, httplib::Response& response) {
        auto body = nlohmann::json::parse(request.body);
        // Say which prompt and temperature came, so that the output shows the preset used.
        std::string prompt = body["messages"][0]["content"];
        std::string kind = prompt.rfind("Inside", 0) == 0 ? "EN" : prompt.rfind("Ты", 0) == 0 ? "правка" : "RU";
        response.set_content(ChatServer::body(kind + " " + body["temperature"].dump() + "\nвторой абзац, длиннее"),
                             "application/json");
    });
    auto lines = run({"natural", "en-ai", "Natural", "en-business", "ai", "bogus", "natural"},
                     "  ну, давай завтра\t\n \t \n\nКупи три нет четыре.\n");
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "« ну, давай завтра",
                         "  natural T с: RU 0.3",
                         "второй абзац, длиннее",
                         "  en-business T с: EN 1.0",
                         "второй абзац, длиннее",
                         "  ai T с: Давай завтра",
                         "  natural T с: RU 0.3",
                         "второй абзац, длиннее",
                         "« Купи три нет четыре.",
                         "  natural T с: RU 0.3",
                         "второй абзац, длиннее",
                         "  en-business T с: EN 1.0",
                         "второй абзац, длиннее",
                         // The correction's answer is longer than allowed: the local text stays.
                         "  ai T с: Купи три нет четыре.",
                         "  natural T с: RU 0.3",
                         "второй абзац, длиннее",
                     }));
    // Five rewrites and one correction reached the service; "ai" without a self-correction did not.
    EXPECT_EQ(server.requests().size(), 7u);
}

TEST_F(PolishCheckTest, MarksLocalResultsWhenTheServiceIsUnreachable) {
    setenv("RUVEX_VOICE_AI_URL", testsupport::unreachableURL().c_str(), 1);
    auto lines = run({"asSpoken", "natural", "en-asSpoken", "ai"}, "ну, давай завтра\nдо пятницы, нет, до четверга\n");
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "« ну, давай завтра",
                         "  asSpoken T с: Давай завтра",
                         "  natural T с [локально]: Давай завтра",
                         "  en-asSpoken T с [локально]: Давай завтра",
                         "  ai T с: Давай завтра",
                         "« до пятницы, нет, до четверга",
                         "  asSpoken T с: До пятницы, нет, до четверга",
                         "  natural T с [локально]: До пятницы, нет, до четверга",
                         "  en-asSpoken T с [локально]: До пятницы, нет, до четверга",
                         "  ai T с: До пятницы, нет, до четверга",
                     }));
}

TEST_F(PolishCheckTest, TimeHasOneDecimalWithAPeriod) {
    EXPECT_EQ(run({"asSpoken"}, "ну, давай завтра\n"),
              (std::vector<std::string>{"« ну, давай завтра", "  asSpoken T с: Давай завтра"}));
    EXPECT_EQ(polishLines("  natural 12.3 с: x\n  natural 1,5 с: x\n  natural 1.25 с: x\n  natural 1 с: x"),
              (std::vector<std::string>{"  natural T с: x", "  natural 1,5 с: x", "  natural 1.25 с: x",
                                        "  natural 1 с: x"}));
}

TEST_F(PolishCheckTest, WithoutAKeyNothingIsRead) {
    Keychain::setAiKey(std::nullopt);
    std::istringstream in("ну, давай завтра\n");
    std::ostringstream out;
    PolishCheck::run(loop, {"natural"}, in, out);
    EXPECT_EQ(out.str(), "Нет ключа ИИ\n");
    EXPECT_EQ(in.tellg(), 0);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(PolishCheckTest, WithoutValidArgumentsLinesAreOnlyEchoed) {
    EXPECT_EQ(run({"Natural", "en-ai", "EN-natural"}, "раз\n\nдва"), (std::vector<std::string>{"« раз", "« два"}));
    EXPECT_EQ(run({}, "   \n\t\n"), std::vector<std::string>{});
    EXPECT_EQ(run({}, "раз\r\n \r\nдва\r\n"), (std::vector<std::string>{"« раз", "« два"}));
}

TEST(PolishCheckArguments, MapToPresets) {
    auto ai = PolishCheck::configuration("ai");
    ASSERT_TRUE(ai);
    EXPECT_EQ(ai->preset, (text::Preset{Style::asSpoken, false}));
    EXPECT_TRUE(ai->useAI);
    auto english = PolishCheck::configuration("en-friendly");
    ASSERT_TRUE(english);
    EXPECT_EQ(english->name, "en-friendly");
    EXPECT_EQ(english->preset, (text::Preset{Style::friendly, true}));
    EXPECT_FALSE(english->useAI);
    EXPECT_EQ(PolishCheck::configuration("business")->preset, (text::Preset{Style::business, false}));
    EXPECT_FALSE(PolishCheck::configuration("en-"));
    EXPECT_FALSE(PolishCheck::configuration("en-ai"));
    EXPECT_FALSE(PolishCheck::configuration("Natural"));
    EXPECT_FALSE(PolishCheck::configuration(""));
}

} // namespace
