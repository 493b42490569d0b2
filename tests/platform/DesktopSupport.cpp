#include "DesktopSupport.h"

#include "platform/qt/QtMainQueue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>

#include <cstdlib>
#include <sstream>

namespace desktop {

std::optional<std::string> missingDisplay() {
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

std::optional<std::string> missingAccessibilityBus() {
    if (auto missing = missingDisplay()) {
        return missing;
    }
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus == nullptr || *bus == '\0') {
        return "needs a D-Bus session with the accessibility bus: run under scripts/rig.sh";
    }
    return std::nullopt;
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
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

void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

ToolResult runTool(const QString& program, const QStringList& arguments, const std::string& input) {
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        return {};
    }
    process.write(input.data(), static_cast<qint64>(input.size()));
    process.closeWriteChannel();
    // This process may own the selection the tool asks for, so the event loop must keep running.
    QByteArray out;
    pumpUntil(
        [&] {
            out += process.readAllStandardOutput();
            return process.state() == QProcess::NotRunning;
        },
        30);
    out += process.readAllStandardOutput();
    ToolResult result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = out.toStdString();
    return result;
}

std::optional<std::string> selectionTarget(const std::string& target, const std::string& selection) {
    auto result =
        runTool("xclip", {"-o", "-selection", QString::fromStdString(selection), "-t", QString::fromStdString(target)});
    if (result.exitCode != 0) {
        return std::nullopt;
    }
    return result.out;
}

std::vector<std::string> selectionTargets(const std::string& selection) {
    std::vector<std::string> targets;
    auto listed = selectionTarget("TARGETS", selection);
    if (!listed) {
        return targets;
    }
    std::istringstream lines(*listed);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            targets.push_back(line);
        }
    }
    return targets;
}

Program::Program(const QString& program, const QStringList& arguments, const QStringList& environment)
    : process(std::make_unique<QProcess>()) {
    auto env = QProcessEnvironment::systemEnvironment();
    for (const QString& pair : environment) {
        auto equals = pair.indexOf('=');
        env.insert(pair.left(equals), pair.mid(equals + 1));
    }
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    process->waitForStarted(10000);
}

Program::~Program() {
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
}

std::optional<std::string> Program::waitForLine(const std::function<bool(const std::string&)>& matches,
                                                double seconds) {
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

void Program::send(const std::string& line) {
    process->write((line + "\n").c_str());
    process->waitForBytesWritten(5000);
}

void Program::finishInput(const std::string& data) {
    process->write(data.data(), static_cast<qint64>(data.size()));
    process->waitForBytesWritten(5000);
    process->closeWriteChannel();
}

std::string Program::remainingOutput() {
    buffer += process->readAllStandardOutput().toStdString();
    return std::exchange(buffer, {});
}

bool Program::finished() const {
    return process->state() == QProcess::NotRunning;
}

int Program::pid() const {
    return static_cast<int>(process->processId());
}

TextTarget::TextTarget(Kind kind, bool forceAccessible)
    : process(fixture("fixture_text_target"), kind == Kind::multiline ? QStringList{"--multiline"} : QStringList{},
              forceAccessible ? QStringList{"QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1", "QT_QPA_PLATFORM=xcb"}
                              : QStringList{"QT_QPA_PLATFORM=xcb"}) {
    process.waitForLine([](const std::string& line) { return line == "focused"; });
}

namespace {
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
    }
    return out;
}
std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[i + 1] == 'n' ? '\n' : text[i + 1];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}
} // namespace

void TextTarget::command(const std::string& line) {
    process.send(line);
    process.waitForLine([](const std::string& reply) { return reply == "ok"; });
}

void TextTarget::setText(const std::string& text) {
    command("text " + escaped(text));
}

void TextTarget::setCaret(int position) {
    command("caret " + std::to_string(position));
}

void TextTarget::select(int start, int length) {
    command("select " + std::to_string(start) + " " + std::to_string(length));
}

std::string TextTarget::waitForText(const std::string& text, double seconds) {
    process.waitForLine(
        [&](const std::string& line) {
            auto tab = line.find('\t');
            if (tab == std::string::npos) {
                return false;
            }
            lastText = unescaped(line.substr(tab + 1));
            return lastText == text;
        },
        seconds);
    return lastText;
}

bool waitForFocus(const std::string& instance, double seconds) {
    static const QRegularExpression windowId("window id # (0x[0-9a-fA-F]+)");
    return pumpUntil(
        [&] {
            auto root = runTool("xprop", {"-root", "_NET_ACTIVE_WINDOW"});
            auto match = windowId.match(QString::fromStdString(root.out));
            if (!match.hasMatch()) {
                return false;
            }
            auto wmClass = runTool("xprop", {"-id", match.captured(1), "WM_CLASS"});
            return wmClass.out.find("\"" + instance + "\"") != std::string::npos;
        },
        seconds);
}

void GatedQueue::post(std::function<void()> work) {
    platform::qt::QtMainQueue main;
    main.post(std::move(work));
}

void GatedQueue::postAfter(double seconds, std::function<void()> work) {
    held.emplace_back(seconds, std::move(work));
}

std::vector<double> GatedQueue::release() {
    auto due = std::exchange(held, {});
    std::vector<double> delays;
    for (auto& [seconds, work] : due) {
        delays.push_back(seconds);
        work();
    }
    return delays;
}

KeyboardLayout::KeyboardLayout(const std::string& layout) : previous(current()) {
    apply(layout);
}

KeyboardLayout::~KeyboardLayout() {
    apply(previous.empty() ? "us" : previous);
}

std::string KeyboardLayout::current() {
    std::istringstream lines(runTool("setxkbmap", {"-query"}).out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("layout:", 0) == 0) {
            return line.substr(line.find_first_not_of(' ', 7));
        }
    }
    return {};
}

void KeyboardLayout::apply(const std::string& layout) {
    // A layout set for the server alone does not reach the devices; each keyboard, the XTest one
    // included, needs its own.
    static const QRegularExpression keyboard("id=(\\d+)\\s+\\[slave\\s+keyboard");
    runTool("setxkbmap", {"-layout", QString::fromStdString(layout)});
    auto devices = runTool("xinput", {"list", "--short"});
    auto matches = keyboard.globalMatch(QString::fromStdString(devices.out));
    while (matches.hasNext()) {
        runTool("setxkbmap", {"-device", matches.next().captured(1), "-layout", QString::fromStdString(layout)});
    }
}

QString fixture(const QString& name) {
    return QStringLiteral(RUVEX_FIXTURE_DIR) + "/" + name;
}

} // namespace desktop
