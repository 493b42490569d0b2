#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace testsupport {

namespace {

void drain(int fd, std::string& into) {
    char buffer[4096];
    for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        into.append(buffer, static_cast<std::size_t>(got));
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

Process::Process(const std::vector<std::string>& arguments, const Options& options) {
    // A program that ends before reading its input must not end the test with it.
    ::signal(SIGPIPE, SIG_IGN);
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || (!options.terminal && (::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC))))
        throw std::runtime_error("pipe failed");
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int terminal = -1;
    child = options.terminal ? ::forkpty(&terminal, nullptr, nullptr, nullptr) : ::fork();
    if (child == 0) {
        ::dup2(in[0], STDIN_FILENO);
        if (!options.terminal) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
        }
        for (const auto& change : options.environment) {
            auto equals = change.find('=');
            if (equals == std::string::npos)
                ::unsetenv(change.c_str());
            else
                ::setenv(change.substr(0, equals).c_str(), change.substr(equals + 1).c_str(), 1);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    input = in[1];
    if (options.terminal) {
        outFd = terminal;
    } else {
        ::close(out[1]);
        ::close(err[1]);
        outFd = out[0];
        errFd = err[0];
    }
    for (int fd : {outFd, errFd}) {
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    if (child < 0)
        throw std::runtime_error("cannot start " + arguments.front());
}

Process::~Process() {
    if (running()) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    closeFd(input);
    closeFd(outFd);
    closeFd(errFd);
}

void Process::write(std::string_view data, bool close) {
    for (std::size_t done = 0; input >= 0 && done < data.size();) {
        auto written = ::write(input, data.data() + done, data.size() - done);
        if (written <= 0)
            break;
        done += static_cast<std::size_t>(written);
    }
    if (close)
        closeFd(input);
}

void Process::poll() {
    drain(outFd, output);
    drain(errFd, errors);
}

bool Process::waitForLine(const std::function<bool(const std::string&)>& matches, double seconds,
                          const std::function<void()>& idle) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        poll();
        for (auto end = output.find('\n', consumed); end != std::string::npos; end = output.find('\n', consumed)) {
            std::string line = output.substr(consumed, end - consumed);
            consumed = end + 1;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (matches(line))
                return true;
        }
        if (!running() || std::chrono::steady_clock::now() > deadline)
            return false;
        if (idle)
            idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool Process::running() {
    if (status != -2)
        return false;
    int raw = 0;
    if (::waitpid(child, &raw, WNOHANG) != child)
        return true;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return false;
}

int Process::wait(const std::function<void()>& idle) {
    while (running()) {
        poll();
        if (idle)
            idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    poll();
    return status;
}

Finished run(const std::vector<std::string>& arguments, const std::string& input, const Process::Options& options) {
    Process process(arguments, options);
    process.write(input, true);
    int status = process.wait();
    return {status, process.out(), process.err()};
}

} // namespace testsupport
