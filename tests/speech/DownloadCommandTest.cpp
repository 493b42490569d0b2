#include "ModelServer.h"
#include "speech/ModelStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

struct Run {
    int status = -1;
    std::string output;

    std::string lastLine() const {
        auto end = output.find_last_not_of('\n');
        auto start = output.rfind('\n', end);
        return end == std::string::npos ? "" : output.substr(start + 1, end - start);
    }
};

/// Runs the built program with --download-model, its data folder in `dataHome`, both output
/// streams captured through a pipe or, with `terminal`, a pseudo-terminal.
Run downloadModel(const std::filesystem::path& dataHome, const std::string& url, bool terminal = false) {
    Run run;
    int ends[2] = {-1, -1};
    pid_t child = terminal ? ::forkpty(&ends[0], nullptr, nullptr, nullptr) : ::pipe(ends) == 0 ? ::fork() : -1;
    if (child < 0) {
        return run;
    }
    if (child == 0) {
        if (!terminal) {
            ::dup2(ends[1], STDOUT_FILENO);
            ::dup2(ends[1], STDERR_FILENO);
            ::close(ends[0]);
        }
        ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
        ::setenv("RUVEX_VOICE_MODEL_URL", url.c_str(), 1);
        ::execl(RUVEX_VOICE_BINARY, RUVEX_VOICE_BINARY, "--download-model", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (!terminal) {
        ::close(ends[1]);
    }
    char buffer[4096];
    // On a terminal, reading ends with an error once the program has exited and the terminal is gone.
    for (ssize_t count; (count = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
        run.output.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(ends[0]);
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
    auto run = downloadModel(data.path(), server.baseURL(), true);
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

} // namespace
