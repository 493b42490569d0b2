#include "ModelServer.h"
#include "speech/ModelStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

struct Run {
    int status = -1;
    std::string output;

    std::string lastLine() const {
        auto end = output.find_last_not_of('\n');
        if (end == std::string::npos) {
            return {};
        }
        auto start = output.rfind('\n', end);
        return output.substr(start == std::string::npos ? 0 : start + 1,
                             end - (start == std::string::npos ? 0 : start + 1) + 1);
    }
};

/// Runs the built program with --download-model, its data folder in `dataHome`, both output streams captured.
Run downloadModel(const std::filesystem::path& dataHome, const std::string& url) {
    std::string command = "env XDG_DATA_HOME='" + dataHome.string() + "' RUVEX_VOICE_MODEL_URL='" + url + "' '" +
                          RUVEX_VOICE_BINARY + "' --download-model 2>&1";
    Run run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.output.append(buffer, count);
    }
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

/// The same on a terminal: the program's output goes to a pseudo-terminal.
Run downloadModelOnTerminal(const std::filesystem::path& dataHome, const std::string& url) {
    Run run;
    int terminal = -1;
    pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0) {
        return run;
    }
    if (child == 0) {
        ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
        ::setenv("RUVEX_VOICE_MODEL_URL", url.c_str(), 1);
        ::execl(RUVEX_VOICE_BINARY, RUVEX_VOICE_BINARY, "--download-model", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    char buffer[4096];
    ssize_t count = 0;
    // Reading ends with an error once the program has exited and the terminal is gone.
    while ((count = ::read(terminal, buffer, sizeof buffer)) > 0) {
        run.output.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(terminal);
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(DownloadCommand, FailsWithTheStoresMessageWhenTheServerLacksTheFile) {
    testsupport::TempDir data;
    testsupport::ModelServer server;
    auto url = server.baseURL();
    url.pop_back(); // the program adds the final "/" itself
    auto run = downloadModel(data.path(), url);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.lastLine(), "Модель речи не скачалась: файл tokens.txt пришел поврежденным") << run.output;
    EXPECT_EQ(server.requests("tokens.txt"), 1);
    EXPECT_EQ(server.totalRequests(), 1);
    EXPECT_EQ(run.output.find('\r'), std::string::npos) << "plain lines when the output is not a terminal";
    EXPECT_NE(run.output.find("Скачано 0%: 0 из 232 МБ\n"), std::string::npos) << run.output;
}

TEST(DownloadCommand, DrawsABarOnATerminalAndEndsItsLineBeforeTheFailure) {
    testsupport::TempDir data;
    testsupport::ModelServer server;
    auto run = downloadModelOnTerminal(data.path(), server.baseURL());
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("\r[..............................]   0%  0 из 232 МБ"), std::string::npos) << run.output;
    // The terminal turns each line end into "\r\n".
    EXPECT_NE(run.output.find("\r\nМодель речи не скачалась: файл tokens.txt пришел поврежденным\r\n"),
              std::string::npos)
        << run.output;
}

TEST(DownloadCommand, ChecksFilesAlreadyInPlaceAndFetchesDamagedOnesAgain) {
    testsupport::TempDir data;
    testsupport::ModelServer server;
    auto folder = data / "Ruvex Voice/models/gigaam-v3-e2e-rnnt-int8-2025-12-16";
    std::filesystem::create_directories(folder);
    // Files of the right sizes full of zeros: the size check trusts them, the digest check does not.
    for (const auto& file : speech::ModelStore::files()) {
        testsupport::writeFile(folder / file.name, "");
        std::filesystem::resize_file(folder / file.name, static_cast<std::uintmax_t>(file.size));
    }
    auto run = downloadModel(data.path(), server.baseURL());
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("Часть файлов модели повреждена"), std::string::npos) << run.output;
    EXPECT_EQ(run.lastLine(), "Модель речи не скачалась: файл tokens.txt пришел поврежденным") << run.output;
    for (const auto& file : speech::ModelStore::files()) {
        EXPECT_FALSE(std::filesystem::exists(folder / file.name)) << file.name;
    }
}

TEST(DownloadCommand, NoServerGivesTheConnectionMessage) {
    testsupport::TempDir data;
    auto run = downloadModel(data.path(), "http://127.0.0.1:1/");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(run.lastLine(), "Модель речи не скачалась: нет соединения с сервером") << run.output;
}

} // namespace
