#pragma once

// Helpers for tests that run against the real X server and real client programs (under the rig).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace desktop {

/// Why a desktop test cannot run here, or nullopt when it can.
inline std::optional<std::string> missingDisplay() {
    if (QCoreApplication::instance() == nullptr) {
        return "needs an X display: run under scripts/rig.sh (make test does)";
    }
    // These tests type into windows, change the keyboard layout and take the clipboard: never on
    // the developer's own desktop, only on the private one of the rig.
    const char* rig = std::getenv("RUVEX_RIG");
    if (rig == nullptr || std::string(rig) != "1") {
        return "types into windows and takes the clipboard: runs only under scripts/rig.sh (make test does)";
    }
    return std::nullopt;
}

inline std::optional<std::string> missingAccessibilityBus() {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (auto missing = missingDisplay(); missing || (bus != nullptr && *bus != '\0')) {
        return missing;
    }
    return "needs a D-Bus session with the accessibility bus: run under scripts/rig.sh";
}

/// Runs the Qt event loop (this process answers clipboard requests from it) until `done` or until
/// `seconds` have passed; returns whether `done` came true.
inline bool pumpUntil(const std::function<bool()>& done, double seconds = 10) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

inline void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

struct ToolResult {
    int exitCode = -1;
    std::string out;
};

/// Runs a tool to its end while the event loop keeps running.
inline ToolResult runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.closeWriteChannel();
    QByteArray out;
    pumpUntil(
        [&] {
            out += process.readAllStandardOutput();
            return process.state() == QProcess::NotRunning;
        },
        30);
    out += process.readAllStandardOutput();
    bool ran = process.exitStatus() == QProcess::NormalExit && process.error() != QProcess::FailedToStart;
    return {ran ? process.exitCode() : -1, out.toStdString()};
}

/// The bytes the clipboard (or "primary") offers for one target, through xclip; nullopt when refused.
inline std::optional<std::string> selectionTarget(const std::string& target,
                                                  const std::string& selection = "clipboard") {
    auto result =
        runTool("xclip", {"-o", "-selection", QString::fromStdString(selection), "-t", QString::fromStdString(target)});
    return result.exitCode == 0 ? std::optional(result.out) : std::nullopt;
}

/// The target names the selection offers, in order; empty when it has no owner.
inline std::vector<std::string> selectionTargets(const std::string& selection = "clipboard") {
    std::vector<std::string> targets;
    std::istringstream lines(selectionTarget("TARGETS", selection).value_or(""));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            targets.push_back(line);
        }
    }
    return targets;
}

/// A program the test started, with its standard output read line by line. Killed with the object.
class Program {
public:
    Program(const QString& program, const QStringList& arguments, const QStringList& environment = {})
        : process(std::make_unique<QProcess>()) {
        auto env = QProcessEnvironment::systemEnvironment();
        for (const QString& pair : environment) {
            env.insert(pair.section('=', 0, 0), pair.section('=', 1));
        }
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, arguments);
        process->waitForStarted(10000);
    }
    ~Program() {
        if (!finished()) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

    /// Waits for an output line that `matches`; returns it, or nullopt after `seconds`.
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& matches,
                                           double seconds = 10) {
        std::optional<std::string> found;
        pumpUntil(
            [&] {
                buffer += process->readAllStandardOutput().toStdString();
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
    /// Writes to the program's standard input, and closes it when `close`.
    void write(const std::string& data, bool close = false) {
        process->write(data.data(), static_cast<qint64>(data.size()));
        process->waitForBytesWritten(5000);
        if (close) {
            process->closeWriteChannel();
        }
    }
    /// Everything printed so far, after the lines already returned.
    std::string remainingOutput() { return std::exchange(buffer, {}) + process->readAllStandardOutput().toStdString(); }
    bool finished() const { return process->state() == QProcess::NotRunning; }
    int pid() const { return static_cast<int>(process->processId()); }

private:
    std::unique_ptr<QProcess> process;
    std::string buffer;
};

/// Where the test fixtures were built.
inline QString fixture(const QString& name) {
    return QStringLiteral(RUVEX_FIXTURE_DIR) + "/" + name;
}

/// The Qt text field of the fixtures ("<caret>\t<text>" on every change, "\" and line breaks escaped;
/// commands on its input).
class TextTarget {
public:
    enum class Kind { line, multiline };
    /// Starts the field and waits until it has the keyboard focus. With `forceAccessible` it exposes
    /// its widgets on the accessibility bus whatever the desktop's switch says.
    explicit TextTarget(Kind kind = Kind::line, bool forceAccessible = true)
        : process(fixture("fixture_text_target"), kind == Kind::multiline ? QStringList{"--multiline"} : QStringList{},
                  forceAccessible ? QStringList{"QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "QT_QPA_PLATFORM=xcb"}
                                  : QStringList{"QT_QPA_PLATFORM=xcb"}) {
        process.waitForLine([](const std::string& line) { return line == "focused"; });
    }
    /// Replaces the text (caret at its end), or selects; waits until done.
    void setText(const std::string& text) {
        std::string escaped;
        for (char c : text) {
            escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
        }
        command("text " + escaped);
    }
    void select(int start, int length) { command("select " + std::to_string(start) + " " + std::to_string(length)); }
    /// Waits until the field holds `text`; returns the last text it reported.
    std::string waitForText(const std::string& text, double seconds = 10) {
        process.waitForLine(
            [&](const std::string& line) {
                auto tab = line.find('\t');
                if (tab == std::string::npos) {
                    return false;
                }
                lastText.clear();
                for (auto i = tab + 1; i < line.size(); ++i) {
                    bool escape = line[i] == '\\' && i + 1 < line.size();
                    lastText += escape && line[i + 1] == 'n' ? '\n' : line[i + escape];
                    i += escape;
                }
                return lastText == text;
            },
            seconds);
        return lastText;
    }
    Program& program() { return process; }

private:
    void command(const std::string& line) {
        process.write(line + "\n");
        process.waitForLine([](const std::string& reply) { return reply == "ok"; });
    }
    Program process;
    std::string lastText;
};

/// True once the window manager reports a window of `instance` (WM_CLASS) as the active one.
inline bool waitForFocus(const std::string& instance, double seconds = 10) {
    static const QRegularExpression windowId("window id # (0x[0-9a-fA-F]+)");
    return pumpUntil(
        [&] {
            auto match = windowId.match(QString::fromStdString(runTool("xprop", {"-root", "_NET_ACTIVE_WINDOW"}).out));
            return match.hasMatch() &&
                   runTool("xprop", {"-id", match.captured(1), "WM_CLASS"}).out.find("\"" + instance + "\"") !=
                       std::string::npos;
        },
        seconds);
}

/// Sets `layout` on every keyboard device, the XTest one included.
inline void setKeyboardLayout(const std::string& layout) {
    // A layout set for the server alone does not reach the devices.
    static const QRegularExpression keyboard("id=(\\d+)\\s+\\[slave\\s+keyboard");
    runTool("setxkbmap", {"-layout", QString::fromStdString(layout)});
    auto matches = keyboard.globalMatch(QString::fromStdString(runTool("xinput", {"list", "--short"}).out));
    while (matches.hasNext()) {
        runTool("setxkbmap", {"-device", matches.next().captured(1), "-layout", QString::fromStdString(layout)});
    }
}

} // namespace desktop
