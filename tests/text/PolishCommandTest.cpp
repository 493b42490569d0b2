#include "support/ChatServer.h"
#include "support/PolishOutput.h"
#include "support/SecretServiceRig.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

namespace {

using testsupport::ChatServer;
using testsupport::runProgram;

using testsupport::polishLines;

/// The built program in a private home, with its key in a private keyring and the service on
/// 127.0.0.1.
class PolishCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("RUVEX_VOICE_AI_URL", server.url().c_str(), 1);
        ASSERT_EQ(runProgram(
                      {"secret-tool", "store", "--label=DeepSeek", "service", "app.ruvex.voice", "account", "deepseek"},
                      "sk-e2e")
                      .status,
                  0);
    }
    void TearDown() override { unsetenv("RUVEX_VOICE_AI_URL"); }

    testsupport::Finished polish(std::vector<std::string> arguments, const std::string& input) {
        arguments.insert(arguments.begin(), {RUVEX_VOICE_BINARY, "--polish"});
        return runProgram(arguments, input);
    }

    testsupport::IsolatedHome home;
    testsupport::SessionBus bus;
    testsupport::Keyring keyring{bus};
    ChatServer server{[](const httplib::Request& request, httplib::Response& response) {
        auto body = nlohmann::json::parse(request.body);
        std::string prompt = body["messages"][0]["content"];
        response.set_content(ChatServer::body(prompt.rfind("Ты правишь", 0) == 0 ? "До четверга." : "Ответ ИИ."),
                             "application/json");
    }};
};

TEST_F(PolishCommandTest, PolishesEachLineUnderEachPresetInArgumentOrder) {
    auto finished = polish({"natural", "Natural", "en-business", "en-ai", "ai"},
                           " ну, давай завтра \n\n   \t\nдо пятницы, нет, до четверга\n");
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(polishLines(finished.output), (std::vector<std::string>{
                                                "« ну, давай завтра",
                                                "  natural T с: Ответ ИИ.",
                                                "  en-business T с: Ответ ИИ.",
                                                "  ai T с: Давай завтра",
                                                "« до пятницы, нет, до четверга",
                                                "  natural T с: Ответ ИИ.",
                                                "  en-business T с: Ответ ИИ.",
                                                "  ai T с: До четверга.",
                                            }));
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].authorization, "Bearer sk-e2e");
}

TEST_F(PolishCommandTest, AnUnreachableServiceGivesMarkedLocalResults) {
    setenv("RUVEX_VOICE_AI_URL", testsupport::unreachableURL().c_str(), 1);
    auto finished = polish({"asSpoken", "natural"}, "ну, давай завтра\n");
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(polishLines(finished.output), (std::vector<std::string>{
                                                "« ну, давай завтра",
                                                "  asSpoken T с: Давай завтра",
                                                "  natural T с [локально]: Давай завтра",
                                            }));
}

TEST_F(PolishCommandTest, WithoutAKeyItSaysSoAndReadsNothing) {
    ASSERT_EQ(runProgram({"secret-tool", "clear", "service", "app.ruvex.voice", "account", "deepseek"}).status, 0);
    auto finished = polish({"natural"}, "ну, давай завтра\n");
    EXPECT_EQ(finished.status, 0);
    EXPECT_EQ(finished.output, "Нет ключа ИИ\n");
    EXPECT_TRUE(server.requests().empty());
}

} // namespace
