#pragma once

// Helpers for the tests that run against a real Wayland compositor and real client programs, inside
// scripts/wayland-rig.sh. No Qt: the Wayland backend's tests also run under ThreadSanitizer.

#include "core/MainQueue.h"
#include "platform/KeySender.h"
#include "platform/ModifierWait.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wayland_desktop {

/// Why a test that needs one of `compositors` ("sway", "mutter", "kwin"; none named: any) cannot run
/// here, or nullopt when it can.
std::optional<std::string> missing(const std::vector<std::string>& compositors = {});

/// The rig's compositor (RUVEX_RIG_COMPOSITOR).
std::string compositor();

/// The paste keys of the rig's compositor: our virtual keyboard, or on KWin its fake input (for
/// which this test program is given a desktop entry that lists it, as the installed program has).
std::unique_ptr<platform::KeySender> pasteKeys(core::MainQueue& main, platform::HeldModifiers held);

/// What runs while a helper waits (the test's main queue); by default the helpers just sleep.
void setPump(std::function<void(double seconds)> pump);
/// Runs the pump until `done` or until `seconds` have passed; returns whether `done` came true.
bool pumpUntil(const std::function<bool()>& done, double seconds = 10);

/// Where the test fixtures are: RUVEX_FIXTURE_DIR, else the build's fixture folder.
std::string fixture(const std::string& name);

/// A program the test started, with its standard input and output on pipes. Killed with the object.
class Program {
public:
    /// `environment` holds NAME=VALUE pairs added to (or replacing) the test's own. With `quiet` the
    /// program's error output is dropped.
    Program(const std::vector<std::string>& command, const std::vector<std::string>& environment = {},
            bool quiet = false);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    /// Waits for an output line that `matches`; returns it, or nullopt after `seconds`.
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& matches, double seconds = 10);
    void write(const std::string& data);
    void closeInput();
    /// Sends `signal` to the program.
    void signal(int number);
    /// Waits for the program to end; its exit status, or nullopt when it is still running.
    std::optional<int> wait(double seconds = 10);
    int pid() const { return process; }
    /// Everything printed so far, after the lines already returned.
    std::string output();

private:
    void readAvailable();
    int process = -1;
    int input = -1;
    int out = -1;
    std::string buffer;
    std::optional<int> status;
};

struct Result {
    int exitCode = -1;
    std::string out;
};

/// Runs a tool to its end (at most `seconds`) while the pump keeps running.
Result run(const std::vector<std::string>& command, const std::string& input = "", double seconds = 20);

/// The bytes the selection ("clipboard" or "primary") holds in `type`, through wl-paste; nullopt when
/// it holds nothing of that type.
std::optional<std::string> pasted(const std::string& type, const std::string& selection = "clipboard");
/// The types the selection offers, in order; empty when it has no owner.
std::vector<std::string> pastedTypes(const std::string& selection = "clipboard");

/// The fixtures' Qt text field, as a native Wayland window ("<caret>\t<text>" on every change, "key
/// <code> <modifiers>" for every key; commands on its input).
class TextTarget {
public:
    TextTarget();
    void setText(const std::string& text);
    /// Waits until the field holds `text`; returns the last text it reported.
    std::string waitForText(const std::string& text, double seconds = 10);
    Program& program() { return process; }
    bool focused() const { return isFocused; }

private:
    Program process;
    bool isFocused = false;
    std::string lastText;
};

} // namespace wayland_desktop
