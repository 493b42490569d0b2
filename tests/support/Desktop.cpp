#include "support/Desktop.h"

#include "platform/wayland/FakeInputKeySender.h"
#include "platform/wayland/VirtualKeyboardKeySender.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace desktop {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::function<void(double)>& currentPump() {
    static std::function<void(double)> pump;
    return pump;
}

} // namespace

std::optional<std::string> missingRig() {
    if (environment("RUVEX_RIG") != "1" || environment("DISPLAY").empty())
        return "types into windows and takes the clipboard: runs only under scripts/rig.sh (make test does)";
    if (environment("DBUS_SESSION_BUS_ADDRESS").empty())
        return "needs the rig's D-Bus session with the accessibility bus";
    return std::nullopt;
}

std::optional<std::string> missingWayland(const std::vector<std::string>& compositors) {
    if (environment("RUVEX_RIG") != "1" || environment("WAYLAND_DISPLAY").empty())
        return "types into windows and takes the clipboard: runs only under scripts/wayland-rig.sh (make test does)";
    if (compositors.empty() || std::find(compositors.begin(), compositors.end(), compositor()) != compositors.end())
        return std::nullopt;
    return "needs the Wayland rig on " + compositors.front() + (compositors.size() > 1 ? " or another" : "");
}

std::string compositor() {
    return environment("RUVEX_RIG_COMPOSITOR");
}

void setPump(std::function<void(double)> pump) {
    currentPump() = std::move(pump);
}

void pump() {
    if (currentPump())
        currentPump()(0.005);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

bool pumpUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        pump();
    }
    return true;
}

void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

testsupport::Finished runTool(const std::vector<std::string>& arguments, const std::string& input) {
    testsupport::Process tool(arguments);
    tool.write(input, true);
    int status = tool.wait(pump);
    return {status, tool.out(), tool.err()};
}

std::string fixture(const std::string& name) {
    const std::string folder = environment("RUVEX_FIXTURE_DIR");
    return (folder.empty() ? std::string(RUVEX_FIXTURE_DIR) : folder) + "/" + name;
}

std::optional<std::string> selectionTarget(const std::string& target, const std::string& selection) {
    auto result = runTool({"xclip", "-o", "-selection", selection, "-t", target});
    return result.status == 0 ? std::optional(result.out) : std::nullopt;
}

std::optional<std::string> pasted(const std::string& type, const std::string& selection) {
    std::vector<std::string> command = {"wl-paste", "--no-newline", "--type", type};
    if (selection == "primary")
        command.push_back("--primary");
    auto result = runTool(command);
    return result.status == 0 ? std::optional(result.out) : std::nullopt;
}

std::vector<std::string> pastedTypes(const std::string& selection) {
    std::vector<std::string> command = {"wl-paste", "--list-types"};
    if (selection == "primary")
        command.push_back("--primary");
    auto result = runTool(command);
    std::vector<std::string> types;
    std::istringstream lines(result.status == 0 ? result.out : "");
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty())
            types.push_back(line);
    }
    return types;
}

bool waitForFocus(const std::string& instance, double seconds) {
    const std::string marker = "window id # ";
    return pumpUntil(
        [&] {
            const std::string root = runTool({"xprop", "-root", "_NET_ACTIVE_WINDOW"}).out;
            const auto at = root.find(marker);
            if (at == std::string::npos)
                return false;
            const std::string window =
                root.substr(at + marker.size(), root.find_first_of(", \n", at + marker.size()) - (at + marker.size()));
            return runTool({"xprop", "-id", window, "WM_CLASS"}).out.find("\"" + instance + "\"") != std::string::npos;
        },
        seconds);
}

void setKeyboardLayout(const std::string& layout) {
    runTool({"setxkbmap", "-layout", layout});
    std::istringstream devices(runTool({"xinput", "list", "--short"}).out);
    // Lines such as "↳ Virtual core XTEST keyboard   id=5   [slave  keyboard (3)]".
    for (std::string line; std::getline(devices, line);) {
        const auto id = line.find("id=");
        const auto slave = line.find("[slave");
        if (id == std::string::npos || slave == std::string::npos || line.find("keyboard", slave) == std::string::npos)
            continue;
        runTool({"setxkbmap", "-device", line.substr(id + 3, line.find_first_not_of("0123456789", id + 3) - (id + 3)),
                 "-layout", layout});
    }
}

void key(int keycode, bool down) {
    runTool({"xdotool", down ? "keydown" : "keyup", std::to_string(keycode)});
}

std::unique_ptr<platform::KeySender> pasteKeys(core::MainQueue& main, platform::HeldModifiers held) {
    if (compositor() != "kwin")
        return std::make_unique<platform::wayland::VirtualKeyboardKeySender>(main, std::move(held));
    // KWin matches the client's executable against the Exec lines of the desktop entries it knows.
    testsupport::writeFile(environment("XDG_DATA_HOME") + "/applications/ruvex-wayland-test.desktop",
                           "[Desktop Entry]\nType=Application\nName=Ruvex Voice test\nExec=" +
                               std::filesystem::read_symlink("/proc/self/exe").string() +
                               "\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n");
    runTool({"kbuildsycoca5"});
    return std::make_unique<platform::wayland::FakeInputKeySender>(main, std::move(held));
}

TextTarget::TextTarget(bool multiline, bool accessible)
    : program(multiline ? std::vector<std::string>{fixture("fixture_text_target"), "--multiline"}
                        : std::vector<std::string>{fixture("fixture_text_target")},
              {{accessible ? "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1" : "QT_LINUX_ACCESSIBILITY_ALWAYS_ON",
                compositor().empty() ? "QT_QPA_PLATFORM=xcb" : "QT_QPA_PLATFORM=wayland"}}) {
    hasFocus = program.waitForLine([](const std::string& line) { return line == "focused"; }, 10, pump);
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
                                         "RUVEX_VOICE_AI_URL=http://127.0.0.1:9",
                                         // On Wayland the program chooses Qt's platform itself.
                                         compositor().empty() ? "QT_QPA_PLATFORM=xcb" : "QT_QPA_PLATFORM"};
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
            return std::find(all.begin() + static_cast<std::ptrdiff_t>(std::min(after, all.size())), all.end(), line) !=
                   all.end();
        },
        seconds);
}

bool TrayProgram::dictate(const std::filesystem::path& audio) {
    const std::size_t before = lines().size();
    trigger(true);
    // The pill starts listening 0.15 s after the recorder started: from then on every sample counts.
    if (!waitForLine("listening", before)) {
        trigger(false);
        return false;
    }
    runTool({"paplay", "--device=vmic_out", audio.string()});
    trigger(false);
    return true;
}

} // namespace desktop
