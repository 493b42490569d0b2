#include "support/SecretServiceRig.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

/// Starts a program (searched in PATH) with pipes on its standard input and output; either may be
/// left out (then /dev/null). A service is tied to this process: it gets SIGTERM when the test
/// process dies, even by a crash, and its diagnostics are dropped, so that nothing outlives the test
/// or holds the test runner's output open.
pid_t spawn(const std::vector<std::string>& arguments, int* input, int* output, bool service) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if ((input && pipe2(in, O_CLOEXEC) != 0) || (output && pipe2(out, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        if (service && (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent)) {
            _exit(127);
        }
        int null = open("/dev/null", O_RDWR);
        dup2(input ? in[0] : null, 0);
        dup2(output ? out[1] : null, 1);
        if (service) {
            dup2(null, 2);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (input) {
        close(in[0]);
        *input = in[1];
    }
    if (output) {
        close(out[1]);
        *output = out[0];
    }
    if (pid < 0) {
        throw std::runtime_error("cannot start " + arguments[0]);
    }
    return pid;
}

void writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
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
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

int waitFor(pid_t pid) {
    int status = 0;
    pid_t done = -1;
    while ((done = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    return done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void stop(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGCONT);
        kill(pid, SIGTERM);
        waitFor(pid);
    }
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
    int in = -1, out = -1;
    pid_t pid = spawn(arguments, &in, &out, false);
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
    int out = -1;
    pid = spawn({"dbus-daemon", "--config-file=" + (dir / "bus.conf").string(), "--nofork", "--print-address=1"},
                nullptr, &out, true);
    // The daemon prints its address once it listens, then keeps running.
    std::string address;
    char c = 0;
    while (read(out, &c, 1) == 1 && c != '\n') {
        address += c;
    }
    close(out);
    if (address.empty()) {
        stop(pid);
        throw std::runtime_error("dbus-daemon did not start");
    }
    if (const char* previous = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        savedAddress = previous;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}

SessionBus::~SessionBus() {
    savedAddress ? setenv("DBUS_SESSION_BUS_ADDRESS", savedAddress->c_str(), 1) : unsetenv("DBUS_SESSION_BUS_ADDRESS");
    stop(pid);
}

bool SessionBus::hasOwner(const std::string& name) const {
    auto reply = runProgram({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name});
    return reply.status == 0 && reply.output.find("boolean true") != std::string::npos;
}

Keyring::Keyring(const SessionBus& bus) {
    int in = -1;
    pid = spawn({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"}, &in, nullptr, true);
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
    stop(pid);
    throw std::runtime_error("gnome-keyring-daemon did not come up");
}

Keyring::~Keyring() {
    stop(pid);
}

void Keyring::pause() {
    kill(pid, SIGSTOP);
}

void Keyring::resume() {
    kill(pid, SIGCONT);
}

} // namespace testsupport
