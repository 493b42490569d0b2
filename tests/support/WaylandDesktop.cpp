#include "support/WaylandDesktop.h"

#include "platform/wayland/FakeInputKeySender.h"
#include "platform/wayland/VirtualKeyboardKeySender.h"

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace wayland_desktop {

namespace {

void sleep(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::function<void(double)>& pump() {
    static std::function<void(double)> current = sleep;
    return current;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

std::optional<std::string> missing(const std::vector<std::string>& compositors) {
    // These tests type into windows and take the clipboard: only on the rig's private desktop.
    if (environment("RUVEX_RIG") != "1" || environment("WAYLAND_DISPLAY").empty()) {
        return "types into windows and takes the clipboard: runs only under scripts/wayland-rig.sh (make test does)";
    }
    if (compositors.empty() || std::find(compositors.begin(), compositors.end(), compositor()) != compositors.end()) {
        return std::nullopt;
    }
    std::string names;
    for (const auto& name : compositors) {
        names += (names.empty() ? "" : " or ") + name;
    }
    return "needs the " + names + " rig (RUVEX_RIG_COMPOSITOR)";
}

std::string compositor() {
    return environment("RUVEX_RIG_COMPOSITOR");
}

std::unique_ptr<platform::KeySender> pasteKeys(core::MainQueue& main, platform::HeldModifiers held) {
    if (compositor() != "kwin") {
        return std::make_unique<platform::wayland::VirtualKeyboardKeySender>(main, std::move(held));
    }
    // KWin matches the client's executable against the Exec lines of the desktop entries it knows.
    const auto entries = std::filesystem::path(environment("XDG_DATA_HOME")) / "applications";
    std::filesystem::create_directories(entries);
    std::ofstream(entries / "ruvex-wayland-test.desktop")
        << "[Desktop Entry]\nType=Application\nName=Ruvex Voice test\nExec="
        << std::filesystem::read_symlink("/proc/self/exe").string()
        << "\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n";
    run({"kbuildsycoca5"}, "", 60);
    return std::make_unique<platform::wayland::FakeInputKeySender>(main, std::move(held));
}

void setPump(std::function<void(double)> given) {
    pump() = given ? std::move(given) : sleep;
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
    const double deadline = now() + seconds;
    while (!done()) {
        if (now() > deadline) {
            return false;
        }
        pump()(0.01);
    }
    return true;
}

std::string fixture(const std::string& name) {
    std::string folder = environment("RUVEX_FIXTURE_DIR");
    return (folder.empty() ? std::string(RUVEX_FIXTURE_DIR) : folder) + "/" + name;
}

Program::Program(const std::vector<std::string>& command, const std::vector<std::string>& extra, bool quiet) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string pair = *entry;
        variables[pair.substr(0, pair.find('='))] = pair;
    }
    for (const auto& pair : extra) {
        variables[pair.substr(0, pair.find('='))] = pair;
    }
    std::vector<std::string> pairs;
    for (auto& [name, pair] : variables) {
        pairs.push_back(pair);
    }
    std::vector<char*> envp;
    for (auto& pair : pairs) {
        envp.push_back(pair.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    if (posix_spawnp(&process, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        process = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    input = toChild[1];
    out = fromChild[0];
    fcntl(out, F_SETFL, O_NONBLOCK);
}

Program::~Program() {
    if (process > 0 && !status) {
        kill(process, SIGCONT);
        kill(process, SIGKILL);
        waitpid(process, nullptr, 0);
    }
    if (input >= 0) {
        close(input);
    }
    if (out >= 0) {
        close(out);
    }
}

void Program::readAvailable() {
    char chunk[4096];
    for (;;) {
        ssize_t got = read(out, chunk, sizeof chunk);
        if (got <= 0) {
            return;
        }
        buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

std::optional<std::string> Program::waitForLine(const std::function<bool(const std::string&)>& matches,
                                                double seconds) {
    std::optional<std::string> found;
    pumpUntil(
        [&] {
            readAvailable();
            for (auto end = buffer.find('\n'); end != std::string::npos; end = buffer.find('\n')) {
                std::string line = buffer.substr(0, end);
                buffer.erase(0, end + 1);
                if (matches(line)) {
                    found = line;
                    return true;
                }
            }
            return false;
        },
        seconds);
    return found;
}

void Program::write(const std::string& data) {
    std::size_t done = 0;
    while (input >= 0 && done < data.size()) {
        ssize_t wrote = ::write(input, data.data() + done, data.size() - done);
        if (wrote <= 0) {
            return;
        }
        done += static_cast<std::size_t>(wrote);
    }
}

void Program::closeInput() {
    if (input >= 0) {
        close(input);
        input = -1;
    }
}

void Program::signal(int number) {
    if (process > 0 && !status) {
        kill(process, number);
    }
}

std::optional<int> Program::wait(double seconds) {
    pumpUntil(
        [&] {
            readAvailable();
            int raw = 0;
            if (!status && process > 0 && waitpid(process, &raw, WNOHANG) == process) {
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            }
            return status.has_value();
        },
        seconds);
    return status;
}

std::string Program::output() {
    readAvailable();
    return std::exchange(buffer, {});
}

Result run(const std::vector<std::string>& command, const std::string& input, double seconds) {
    // Tools say "No selection" and the like on their error output; the result tells the test.
    Program program(command, {}, true);
    program.write(input);
    program.closeInput();
    auto status = program.wait(seconds);
    return {status.value_or(-1), program.output()};
}

std::optional<std::string> pasted(const std::string& type, const std::string& selection) {
    std::vector<std::string> command = {"wl-paste", "--no-newline", "--type", type};
    if (selection == "primary") {
        command.push_back("--primary");
    }
    auto result = run(command);
    return result.exitCode == 0 ? std::optional(result.out) : std::nullopt;
}

std::vector<std::string> pastedTypes(const std::string& selection) {
    std::vector<std::string> command = {"wl-paste", "--list-types"};
    if (selection == "primary") {
        command.push_back("--primary");
    }
    std::vector<std::string> types;
    auto result = run(command);
    if (result.exitCode != 0) {
        return types;
    }
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            types.push_back(line);
        }
    }
    return types;
}

TextTarget::TextTarget()
    : process({fixture("fixture_text_target")}, {"QT_QPA_PLATFORM=wayland", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"}) {
    isFocused = process.waitForLine([](const std::string& line) { return line == "focused"; }).has_value();
}

void TextTarget::setText(const std::string& text) {
    process.write("text " + text + "\n");
    process.waitForLine([](const std::string& reply) { return reply == "ok"; });
}

std::string TextTarget::waitForText(const std::string& text, double seconds) {
    process.waitForLine(
        [&](const std::string& line) {
            auto tab = line.find('\t');
            if (tab == std::string::npos) {
                return false;
            }
            lastText = line.substr(tab + 1);
            return lastText == text;
        },
        seconds);
    return lastText;
}

} // namespace wayland_desktop
