// The built program's command-line modes, run as a user runs them: --transcribe on the tone model,
// --download-model against a loopback server, --polish with its key in the rig's keyring.
#include "ModelTesting.h"
#include "Tones.h"
#include "speech/ModelStore.h"
#include "support/LoopbackServer.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <sstream>

namespace {

using testsupport::LoopbackServer;
using testsupport::writeFile;

testsupport::Finished program(std::vector<std::string> arguments, const std::string& input = {},
                              testsupport::Process::Options options = {}) {
    arguments.insert(arguments.begin(), RUVEX_VOICE_PROGRAM);
    return testsupport::run(arguments, input, options);
}

std::string lastLine(const std::string& output) {
    auto end = output.find_last_not_of("\r\n");
    auto start = output.find_last_of('\n', end);
    return end == std::string::npos ? "" : output.substr(start + 1, end - start);
}

/// The lines of --polish, each result's time ("12.3") replaced by "T"; a time not written as digits, a
/// period and one digit is left as it is, so that the comparison fails.
std::vector<std::string> polishLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        auto at = line.rfind("  ", 0) == 0 ? line.find(' ', 2) : std::string::npos;
        if (at != std::string::npos) {
            auto digits = ++at;
            while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits])))
                ++digits;
            if (digits > at && line.compare(digits, 1, ".") == 0 &&
                std::isdigit(static_cast<unsigned char>(line[digits + 1])) && line.compare(digits + 2, 3, " с") == 0)
                line.replace(at, digits + 2 - at, "T");
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(Transcribe, PrintsEachFileCleanedAndCorrectedAndSaysWhatFailed) {
    testsupport::IsolatedHome home;
    testsupport::ScopedEnv noVocab("RUVEX_VOICE_BPE_VOCAB", std::nullopt);
    testsupport::TempDir files;
    writeFile(home.dataHome() / "Ruvex Voice" / "Словарь.txt", "дон\nпривет → здравствуй\n");
    tones::copyModel(speech::ModelStore::defaultDirectory());
    ASSERT_TRUE(tones::writeWav(files / "plain.wav", tones::phrase("привет мир как дела")));
    ASSERT_TRUE(tones::writeWav(files / "stereo48k.wav", modeltesting::ambiguousWord(), 48000, 2));
    writeFile(files / "notes.txt", "not audio");
    auto run = program({"--transcribe", (files / "plain.wav").string(), (files / "missing.wav").string(),
                        (files / "notes.txt").string(), (files / "stereo48k.wav").string()});
    EXPECT_EQ(run.status, 1);
    // The dictionary's term flips the ambiguous word; its replacement applies.
    EXPECT_EQ(run.out, "здравствуй мир как дела\nДон\n");
    EXPECT_EQ(run.err, "Не удалось прочитать аудиофайл «" + (files / "missing.wav").string() +
                           "»: файл не найден\nНе удалось прочитать аудиофайл «" + (files / "notes.txt").string() +
                           "»: формат не распознан\n");

    auto broken = files / "broken";
    tones::copyModel(broken);
    writeFile(broken / "tokens.txt", "а 0\n");
    run = program({"--transcribe", "--model", broken.string(), (files / "plain.wav").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Модель речи не загрузилась: «" + broken.string() + "»\n");
    run = program({"--transcribe", "--model", (files / "nowhere").string(), (files / "plain.wav").string()});
    EXPECT_EQ(run.err, "Модель речи не найдена: «" + (files / "nowhere").string() + "»\n");
    EXPECT_EQ(program({"--transcribe"}).status, 2);
    EXPECT_EQ(program({"--transcribe", "--model"}).status, 2);
    EXPECT_EQ(program({"--transcribe", "--loud", "a.wav"}).status, 2);

    auto help = program({"--help"});
    for (const char* mode : {"--transcribe", "--polish", "--download-model"})
        EXPECT_NE(help.out.find(mode), std::string::npos) << mode;
    // The tray program without a graphical session says so in Russian; the modes above still work.
    auto tray = program({}, {}, {{"DISPLAY", "WAYLAND_DISPLAY"}});
    EXPECT_EQ(tray.status, 1);
    EXPECT_NE(tray.err.find("не найден графический сеанс"), std::string::npos) << tray.err;
}

TEST(DownloadModel, SaysWhyItFailedOnATerminalOrNotAndFetchesDamagedFilesAgain) {
    testsupport::TempDir data;
    LoopbackServer server;
    auto url = server.filesURL();
    url.pop_back(); // the program adds the final "/" itself
    testsupport::Process::Options options{{"XDG_DATA_HOME=" + data.path().string(), "RUVEX_VOICE_MODEL_URL=" + url}};
    auto run = program({"--download-model"}, {}, options);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lastLine(run.err), "Модель речи не скачалась: файл tokens.txt пришел поврежденным");
    EXPECT_EQ(server.totalFileRequests(), 1);
    EXPECT_NE(run.out.find("Скачано 0%: 0 из 232 МБ\n"), std::string::npos) << "plain lines on a pipe";

    // On a terminal a bar is redrawn in place, and its line ends before the failure.
    options.terminal = true;
    run = program({"--download-model"}, {}, options);
    EXPECT_NE(run.out.find("\r[..............................]   0%  0 из 232 МБ"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\r\nМодель речи не скачалась: файл tokens.txt пришел поврежденным\r\n"), std::string::npos)
        << run.out;

    // Files of the right sizes full of zeros: the size check trusts them, the digest check does not.
    options.terminal = false;
    auto folder = data / "Ruvex Voice/models/gigaam-v3-e2e-rnnt-int8-2025-12-16";
    for (const auto& file : speech::ModelStore::files()) {
        writeFile(folder / file.name, "");
        std::filesystem::resize_file(folder / file.name, static_cast<std::uintmax_t>(file.size));
    }
    run = program({"--download-model"}, {}, options);
    EXPECT_NE(run.out.find("Часть файлов модели повреждена"), std::string::npos) << run.out;
    for (const auto& file : speech::ModelStore::files())
        EXPECT_FALSE(std::filesystem::exists(folder / file.name)) << file.name;
}

class Polish : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("RUVEX_RIG_KEYRING_PID"))
            GTEST_SKIP() << "needs the keyring of scripts/rig.sh (make test runs it)";
        storeKey(true);
    }
    void TearDown() override { storeKey(false); }
    static void storeKey(bool store) {
        const std::vector<std::string> where = {"service", "app.ruvex.voice", "account", "deepseek"};
        std::vector<std::string> command = {"secret-tool", store ? "store" : "clear"};
        if (store)
            command.push_back("--label=DeepSeek");
        command.insert(command.end(), where.begin(), where.end());
        // Clearing what is not there fails, and that is fine.
        EXPECT_TRUE(testsupport::run(command, store ? "sk-e2e" : "").status == 0 || !store);
    }
    testsupport::Finished polish(std::vector<std::string> arguments, const std::string& input, const std::string& url) {
        arguments.insert(arguments.begin(), "--polish");
        return program(arguments, input, {{"RUVEX_VOICE_AI_URL=" + url}});
    }
    LoopbackServer server;
};

TEST_F(Polish, EachLineUnderEachPresetInArgumentOrderWithItsTime) {
    server.setRespond([](const httplib::Request& request, httplib::Response& response) {
        auto body = nlohmann::json::parse(request.body);
        // Say which prompt came, so that the output shows the preset used.
        std::string prompt = body["messages"][0]["content"];
        std::string kind = prompt.rfind("Inside", 0) == 0 ? "EN" : prompt.rfind("Ты", 0) == 0 ? "До четверга." : "RU";
        response.set_content(LoopbackServer::body(nlohmann::json(kind).dump()), "application/json");
    });
    auto run = polish({"natural", "Natural", "en-business", "en-ai", "ai"},
                      " ну, давай завтра \r\n\n   \t\nдо пятницы, нет, до четверга\n", server.url());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(polishLines(run.out),
              (std::vector<std::string>{"Сервис ИИ: " + server.url() + ", модель deepseek-chat", "« ну, давай завтра",
                                        "  natural T с: RU", "  en-business T с: EN", "  ai T с: Давай завтра",
                                        "« до пятницы, нет, до четверга", "  natural T с: RU", "  en-business T с: EN",
                                        "  ai T с: До четверга."}));
    ASSERT_EQ(server.chatRequests().size(), 5u) << "\"ai\" without a self-correction asks nothing";
    EXPECT_EQ(server.chatRequests()[0].authorization, "Bearer sk-e2e");

    const std::string nowhere = testsupport::unreachableURL();
    run = polish({"asSpoken", "natural"}, "ну, давай завтра\n", nowhere);
    EXPECT_EQ(polishLines(run.out),
              (std::vector<std::string>{"Сервис ИИ: " + nowhere + ", модель deepseek-chat", "« ну, давай завтра",
                                        "  asSpoken T с: Давай завтра", "  natural T с [локально]: Давай завтра"}));

    // Without a key: a server on this machine is asked all the same; one elsewhere is not (an IPv4-mapped
    // address is elsewhere by the rule, though nothing sent to it would leave the machine); plain http
    // elsewhere is refused.
    storeKey(false);
    run = polish({"natural"}, "ну, давай завтра\n", server.url());
    EXPECT_EQ(polishLines(run.out).back(), "  natural T с: RU");
    EXPECT_EQ(server.chatRequests().back().authorization, "");
    const std::string port = server.url().substr(server.url().rfind(':'));
    run = polish({"natural"}, "ну, давай завтра\n", "https://[::ffff:127.0.0.1]" + port);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Сервис ИИ: https://[::ffff:127.0.0.1]" + port + ", модель deepseek-chat\nНет ключа ИИ\n");
    run = polish({"natural"}, "ну, давай завтра\n", "http://[::ffff:127.0.0.1]" + port);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lastLine(run.out), "Адрес сервиса ИИ http://[::ffff:127.0.0.1]" + port +
                                     " не подходит: без https текст и ключ шли бы по сети открытыми. По http можно "
                                     "обращаться только к серверу на этом компьютере (127.0.0.1, ::1, localhost).");
    EXPECT_EQ(server.chatRequests().size(), 6u);
}

} // namespace
