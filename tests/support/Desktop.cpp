#include "support/Desktop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace desktop {

void pump() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

std::optional<std::string> missingRig() {
    const char* rig = std::getenv("RUVEX_RIG");
    if (!rig || std::string(rig) != "1")
        return "types into windows and takes the clipboard: runs only under scripts/rig.sh (make test does)";
    if (!QCoreApplication::instance())
        return "needs the test's Qt application";
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!bus || !*bus)
        return "needs the rig's D-Bus session with the accessibility bus";
    return std::nullopt;
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000)
            return false;
        pump();
        QThread::msleep(5);
    }
    return true;
}

void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

testsupport::Finished runTool(const std::vector<std::string>& arguments) {
    testsupport::Process tool(arguments);
    tool.write("", true);
    int status = tool.wait(pump);
    return {status, tool.out(), tool.err()};
}

std::optional<std::string> selectionTarget(const std::string& target, const std::string& selection) {
    auto result = runTool({"xclip", "-o", "-selection", selection, "-t", target});
    return result.status == 0 ? std::optional(result.out) : std::nullopt;
}

bool waitForFocus(const std::string& instance, double seconds) {
    static const QRegularExpression windowId("window id # (0x[0-9a-fA-F]+)");
    return pumpUntil(
        [&] {
            auto match = windowId.match(QString::fromStdString(runTool({"xprop", "-root", "_NET_ACTIVE_WINDOW"}).out));
            return match.hasMatch() && runTool({"xprop", "-id", match.captured(1).toStdString(), "WM_CLASS"})
                                               .out.find("\"" + instance + "\"") != std::string::npos;
        },
        seconds);
}

void setKeyboardLayout(const std::string& layout) {
    static const QRegularExpression keyboard("id=(\\d+)\\s+\\[slave\\s+keyboard");
    runTool({"setxkbmap", "-layout", layout});
    auto matches = keyboard.globalMatch(QString::fromStdString(runTool({"xinput", "list", "--short"}).out));
    while (matches.hasNext())
        runTool({"setxkbmap", "-device", matches.next().captured(1).toStdString(), "-layout", layout});
}

void key(int keycode, bool down) {
    runTool({"xdotool", down ? "keydown" : "keyup", std::to_string(keycode)});
}

TextTarget::TextTarget(bool multiline, bool accessible)
    : program(multiline ? std::vector<std::string>{RUVEX_FIXTURE_DIR "/fixture_text_target", "--multiline"}
                        : std::vector<std::string>{RUVEX_FIXTURE_DIR "/fixture_text_target"},
              {{accessible ? "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1" : "QT_LINUX_ACCESSIBILITY_ALWAYS_ON",
                "QT_QPA_PLATFORM=xcb"}}) {
    program.waitForLine([](const std::string& line) { return line == "focused"; }, 10, pump);
}

void TextTarget::command(const std::string& line) {
    program.write(line + "\n");
    program.waitForLine([](const std::string& reply) { return reply == "ok"; }, 10, pump);
}

void TextTarget::setText(const std::string& text) {
    std::string escaped;
    for (char c : text)
        escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
    command("text " + escaped);
}

void TextTarget::select(int start, int length) {
    command("select " + std::to_string(start) + " " + std::to_string(length));
}

std::string TextTarget::waitForText(const std::string& text, double seconds) {
    program.waitForLine(
        [&](const std::string& line) {
            auto tab = line.find('\t');
            if (tab == std::string::npos)
                return false;
            lastText.clear();
            for (auto i = tab + 1; i < line.size(); ++i) {
                bool escape = line[i] == '\\' && i + 1 < line.size();
                lastText += escape && line[i + 1] == 'n' ? '\n' : line[i + escape];
                i += escape;
            }
            return lastText == text;
        },
        seconds, pump);
    return lastText;
}

TrayProgram::TrayProgram(const std::filesystem::path& modelFolder, bool onboardingDone,
                         std::vector<std::string> environment)
    : data(dir / "data"), config(dir / "config"), log(dir / "events.log") {
    testsupport::writeFile(config / "Ruvex Voice" / "settings.json",
                           onboardingDone ? R"({"onboardingDone": true})" : "{}");
    std::vector<std::string> settings = {"XDG_CONFIG_HOME=" + config.string(), "XDG_DATA_HOME=" + data.string(),
                                         "RUVEX_VOICE_MODEL_DIR=" + modelFolder.string(),
                                         "RUVEX_VOICE_TEST_LOG=" + log.string(),
                                         // Nothing leaves the machine, whatever key the test keyring holds.
                                         "RUVEX_VOICE_AI_URL=http://127.0.0.1:9", "QT_QPA_PLATFORM=xcb"};
    settings.insert(settings.end(), environment.begin(), environment.end());
    program = std::make_unique<testsupport::Process>(std::vector<std::string>{RUVEX_VOICE_PROGRAM},
                                                     testsupport::Process::Options{settings});
}

std::vector<std::string> TrayProgram::lines() const {
    std::vector<std::string> result;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

bool TrayProgram::waitForLine(const std::string& line, std::size_t after, double seconds) {
    return pumpUntil(
        [&] {
            auto all = lines();
            for (std::size_t i = after; i < all.size(); ++i) {
                if (all[i] == line)
                    return true;
            }
            return false;
        },
        seconds);
}

bool TrayProgram::dictate(const std::filesystem::path& audio) {
    const std::size_t before = lines().size();
    key(108, true);
    // The pill starts listening 0.15 s after the recorder started: from then on every sample counts.
    if (!waitForLine("listening", before)) {
        key(108, false);
        return false;
    }
    runTool({"paplay", "--device=vmic_out", audio.string()});
    key(108, false);
    return true;
}

} // namespace desktop
