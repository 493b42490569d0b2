#pragma once

#include "support/TempDir.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace testsupport {

/// How a program run by `runProgram` ended.
struct Finished {
    int status = -1; ///< the exit status, or -1 when it did not exit normally
    std::string output;
};

/// Runs a program (searched in PATH) with the current environment and `input` on its standard
/// input, and waits for it. Its standard error is left alone.
Finished runProgram(const std::vector<std::string>& arguments, const std::string& input = {});

/// A private D-Bus session bus (a child of the test process), exported in DBUS_SESSION_BUS_ADDRESS while the object
/// lives. It has no service files, so nothing is started on demand: only what a test starts is on it.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    /// True when a process owns `name` on this bus.
    bool hasOwner(const std::string& name) const;

private:
    TempDir dir;
    pid_t pid = -1;
    std::optional<std::string> savedAddress;
};

/// gnome-keyring's Secret Service on the current session bus, its "login" collection created and
/// unlocked with a throw-away password, kept under $XDG_DATA_HOME (pair it with IsolatedHome).
class Keyring {
public:
    explicit Keyring(const SessionBus& bus);
    ~Keyring();
    Keyring(const Keyring&) = delete;
    Keyring& operator=(const Keyring&) = delete;

    /// Stops the daemon (SIGSTOP) so that it holds every call, as a hung provider does.
    void pause();
    void resume();

private:
    pid_t pid = -1;
};

} // namespace testsupport
