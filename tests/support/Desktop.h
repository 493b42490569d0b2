#pragma once

// For tests that run a Qt application of their own on the test desktop (scripts/rig.sh): pumping its
// events while waiting, desktop tools, the text-field fixture and the real program.

#include "support/Process.h"
#include "support/TempDir.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace desktop {

/// Why a desktop test cannot run here (no rig, no display, no accessibility bus), or nothing. These
/// tests type into windows and take the clipboard: only on the rig's private desktop.
std::optional<std::string> missingRig();

/// Runs the Qt event loop (this process answers clipboard requests from it) until `done`, or until
/// `seconds` have passed; whether `done` came true.
bool pumpUntil(const std::function<bool()>& done, double seconds = 10);
void pumpFor(double seconds);
/// Processes the events that are there now.
void pump();

/// Runs a tool to its end while the event loop keeps running.
testsupport::Finished runTool(const std::vector<std::string>& arguments);

/// The bytes the clipboard (or "primary") offers for `target`, through xclip; nothing when refused.
std::optional<std::string> selectionTarget(const std::string& target, const std::string& selection = "clipboard");

/// True once the window manager reports a window of `instance` (WM_CLASS) as the active one.
bool waitForFocus(const std::string& instance, double seconds = 10);

/// Sets `layout` on every keyboard device, the XTest one included (the server's own is not enough).
void setKeyboardLayout(const std::string& layout);

/// Presses (`down`) or releases a key through XTest, by X keycode.
void key(int keycode, bool down);

/// The Qt text field of the fixtures: reports "<caret>\t<text>" on every change; commands set it up.
class TextTarget {
public:
    /// Starts the field and waits until it has the keyboard focus. Unless `accessible`, it exposes its
    /// text on the accessibility bus only when the desktop's switch is on as it starts, as Qt programs do.
    explicit TextTarget(bool multiline = false, bool accessible = true);
    /// Replaces the text (caret at its end); waits until done.
    void setText(const std::string& text);
    void select(int start, int length);
    /// Waits until the field holds `text`; returns the last text it reported.
    std::string waitForText(const std::string& text, double seconds = 10);
    testsupport::Process& process() { return program; }

private:
    void command(const std::string& line);
    testsupport::Process program;
    std::string lastText;
};

/// The real ruvex-voice program on the test desktop, with private settings and data folders, the
/// first run marked done (or not), the model folder of the test's choosing and requests to the AI
/// going to `aiUrl`. What its pill shows and when its engine loads is read from its test log.
class TrayProgram {
public:
    explicit TrayProgram(const std::filesystem::path& modelFolder, bool onboardingDone = true,
                         std::vector<std::string> environment = {});

    /// Every line logged so far.
    std::vector<std::string> lines() const;
    /// Waits until the log holds `line` after its first `after` lines.
    bool waitForLine(const std::string& line, std::size_t after = 0, double seconds = 20);

    /// One dictation: the trigger goes down, the recording starts, `audio` plays into the virtual
    /// microphone, the trigger comes up. False when the recording never started.
    bool dictate(const std::filesystem::path& audio);

    const std::filesystem::path& dataHome() const { return data; }
    const std::filesystem::path& configHome() const { return config; }
    testsupport::Process& process() { return *program; }

private:
    testsupport::TempDir dir;
    std::filesystem::path data;
    std::filesystem::path config;
    std::filesystem::path log;
    std::unique_ptr<testsupport::Process> program;
};

} // namespace desktop
