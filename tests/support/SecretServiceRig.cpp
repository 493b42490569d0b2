#include "support/SecretServiceRig.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {

namespace {

/// Spawns a program with pipes on its standard input and output; either may be left out.
pid_t spawn(const std::vector<std::string>& arguments, int* input, int* output) {
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if ((input && pipe2(in, O_CLOEXEC) != 0) || (output && pipe2(out, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input) {
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (output) {
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (input) {
        close(in[0]);
        *input = in[1];
    }
    if (output) {
        close(out[1]);
        *output = out[0];
    }
    if (error != 0) {
        throw std::runtime_error("cannot start " + arguments[0]);
    }
    return pid;
}

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        auto written = write(fd, text.data() + done, text.size() - done);
        if (written <= 0) {
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        auto got = read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const char* const busConfiguration = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=@DIR@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

Finished runProgram(const std::vector<std::string>& arguments, const std::string& input) {
    int in = -1;
    int out = -1;
    pid_t pid = spawn(arguments, &in, &out);
    // Inputs are small: they fit in the pipe before the program starts writing.
    writeAll(in, input);
    close(in);
    Finished finished;
    finished.output = readAll(out);
    close(out);
    finished.status = waitFor(pid);
    return finished;
}

SessionBus::SessionBus() {
    std::string configuration = busConfiguration;
    configuration.replace(configuration.find("@DIR@"), 5, dir.path().string());
    writeFile(dir / "bus.conf", configuration);
    auto started = runProgram({"dbus-daemon", "--config-file=" + (dir / "bus.conf").string(), "--fork",
                               "--print-address=1", "--print-pid=1"});
    auto newline = started.output.find('\n');
    if (started.status != 0 || newline == std::string::npos) {
        throw std::runtime_error("dbus-daemon did not start");
    }
    std::string address = started.output.substr(0, newline);
    pid = static_cast<pid_t>(std::stol(started.output.substr(newline + 1)));
    if (const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        hadAddress = true;
        savedAddress = previous;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

SessionBus::~SessionBus() {
    if (hadAddress) {
        setenv("DBUS_SESSION_BUS_ADDRESS", savedAddress.c_str(), 1);
    } else {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    kill(pid, SIGTERM); // the daemon forked away from us: it is not our child to wait for
}

bool SessionBus::hasOwner(const std::string& name) const {
    auto reply = runProgram({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name});
    return reply.status == 0 && reply.output.find("boolean true") != std::string::npos;
}

Keyring::Keyring(const SessionBus& bus) {
    int in = -1;
    pid = spawn({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"}, &in, nullptr);
    writeAll(in, "throw-away");
    close(in);
    // Readiness, not timing: wait until the daemon owns its name, giving up after a generous bound.
    for (int attempt = 0; attempt < 400; ++attempt) {
        if (bus.hasOwner("org.freedesktop.secrets")) {
            return;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitFor(pid);
    }
    throw std::runtime_error("gnome-keyring-daemon did not come up");
}

Keyring::~Keyring() {
    if (pid > 0) {
        kill(pid, SIGCONT);
        kill(pid, SIGTERM);
        waitFor(pid);
    }
}

void Keyring::pause() {
    kill(pid, SIGSTOP);
}

void Keyring::resume() {
    kill(pid, SIGCONT);
}

} // namespace testsupport
