#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace testsupport {

/// How a Process starts.
struct ProcessOptions {
    /// Changes to the test's environment: "NAME=value" sets, "NAME" alone unsets.
    std::vector<std::string> environment;
    /// Output and errors through one pseudo-terminal instead of two pipes.
    bool terminal = false;
};

/// A program the test started (searched in PATH), with pipes on its standard input, output and error,
/// or with a pseudo-terminal for both outputs. Killed with the object if it still runs.
class Process {
public:
    using Options = ProcessOptions;

    explicit Process(const std::vector<std::string>& arguments, const Options& options = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    /// Writes to the program's standard input; `close` ends it.
    void write(std::string_view data, bool close = false);
    /// Reads what the program has printed so far without waiting; appends it to out() and err().
    void poll();
    const std::string& out() const { return output; }
    const std::string& err() const { return errors; }
    /// Waits for the next whole line of output that `matches`, calling `idle` between reads (a test
    /// with a Qt application pumps its events there); false after `seconds` or at the program's end.
    bool waitForLine(const std::function<bool(const std::string&)>& matches, double seconds,
                     const std::function<void()>& idle = {});
    /// True while the program runs (reaps it once it has ended).
    bool running();
    /// Waits for the end, reading its output on the way; the exit status, or -1 for a signal.
    int wait(const std::function<void()>& idle = {});
    pid_t pid() const { return child; }

private:
    pid_t child = -1;
    int input = -1;
    int outFd = -1;
    int errFd = -1;
    int status = -2;
    std::string output;
    std::string errors;
    std::size_t consumed = 0; // output already looked at by waitForLine
};

/// How a program run by `run` ended.
struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs a program to its end with `input` on its standard input.
Finished run(const std::vector<std::string>& arguments, const std::string& input = {},
             const Process::Options& options = {});

} // namespace testsupport
