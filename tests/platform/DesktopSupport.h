#pragma once

// Helpers for tests that run against the real X server and real client programs (under the rig).

#include "core/MainQueue.h"

#include <QProcess>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace desktop {

/// Why a desktop test cannot run here, or nullopt when it can: only on the rig's private display.
std::optional<std::string> missingDisplay();
std::optional<std::string> missingAccessibilityBus();

/// Runs the Qt event loop (this process answers clipboard requests from it) until `done` or until
/// `seconds` have passed; returns whether `done` came true.
bool pumpUntil(const std::function<bool()>& done, double seconds = 10);
void pumpFor(double seconds);

/// Runs a tool to its end while the event loop keeps running.
struct ToolResult {
    int exitCode = -1;
    std::string out;
};
ToolResult runTool(const QString& program, const QStringList& arguments, const std::string& input = {});

/// The bytes the clipboard (or "primary") offers for one target, through xclip; nullopt when refused.
std::optional<std::string> selectionTarget(const std::string& target, const std::string& selection = "clipboard");
/// The target names the selection offers, in order; empty when it has no owner.
std::vector<std::string> selectionTargets(const std::string& selection = "clipboard");

/// A program the test started, with its standard output read line by line. Killed with the object.
class Program {
public:
    Program(const QString& program, const QStringList& arguments, const QStringList& environment = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    /// Waits for an output line that `matches`; returns it, or nullopt after `seconds`.
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& matches, double seconds = 10);
    /// Sends one line to the program's standard input.
    void send(const std::string& line);
    /// Sends `data` and closes the program's standard input.
    void finishInput(const std::string& data);
    /// Everything printed so far, after the lines already returned.
    std::string remainingOutput();
    bool finished() const;
    int pid() const;

private:
    std::unique_ptr<QProcess> process;
    std::string buffer;
};

/// The Qt text field of the fixtures ("<caret>\t<text>" on every change, commands on its input).
class TextTarget {
public:
    enum class Kind { line, multiline };
    /// Starts the field and waits until it has the keyboard focus. With `forceAccessible` it exposes
    /// its widgets on the accessibility bus whatever the desktop's switch says.
    explicit TextTarget(Kind kind = Kind::line, bool forceAccessible = true);
    /// Replaces the text (caret at its end), moves the caret, or selects; waits until done.
    void setText(const std::string& text);
    void setCaret(int position);
    void select(int start, int length);
    /// Waits until the field holds `text`; returns the last text it reported.
    std::string waitForText(const std::string& text, double seconds = 10);
    Program& program() { return process; }

private:
    void command(const std::string& line);
    Program process;
    std::string lastText;
};

/// True once the window manager reports a window of `instance` (WM_CLASS) as the active one.
bool waitForFocus(const std::string& instance, double seconds = 10);

/// Holds back the delayed work posted to it until the test releases it, so that a test can look at
/// the clipboard during the paste window however slow the machine is.
class GatedQueue : public core::MainQueue {
public:
    void post(std::function<void()> work) override;
    void postAfter(double seconds, std::function<void()> work) override;
    /// Runs the held work now, in order; returns the delays it had been posted with.
    std::vector<double> release();

private:
    std::vector<std::pair<double, std::function<void()>>> held;
};

/// Switches every keyboard device, the XTest one included, to a layout for the object's life.
class KeyboardLayout {
public:
    explicit KeyboardLayout(const std::string& layout);
    ~KeyboardLayout();
    KeyboardLayout(const KeyboardLayout&) = delete;
    KeyboardLayout& operator=(const KeyboardLayout&) = delete;
    /// The layouts now set, as setxkbmap reports them.
    static std::string current();

private:
    static void apply(const std::string& layout);
    std::string previous;
};

/// Where the test fixtures were built.
QString fixture(const QString& name);

} // namespace desktop
