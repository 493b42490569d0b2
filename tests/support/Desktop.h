#pragma once

// For tests on a rig's private desktop, X11 (scripts/rig.sh) or Wayland (scripts/wayland-rig.sh):
// waiting while the test's own event loop runs, desktop tools, the text-field fixture and the real
// program. No Qt here: the Wayland backend's tests also run under ThreadSanitizer.

#include "core/MainQueue.h"
#include "platform/KeySender.h"
#include "platform/ModifierWait.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace desktop {

/// Why a test of the X11 rig cannot run here (no rig, no display, no accessibility bus), or nothing.
/// These tests type into windows and take the clipboard: only on the rig's private desktop.
std::optional<std::string> missingRig();
/// The same for the Wayland rig, on one of `compositors` ("sway", "mutter", "kwin"; none: any).
std::optional<std::string> missingWayland(const std::vector<std::string>& compositors = {});
/// The Wayland rig's compositor (RUVEX_RIG_COMPOSITOR); empty elsewhere.
std::string compositor();

/// What runs while a helper waits: the test's event loop for about so many seconds (a test with a Qt
/// application or a run loop answers the clipboard from there). Unset: the helpers just sleep.
void setPump(std::function<void(double seconds)> pump);
void pump();
/// Pumps until `done`, or until `seconds` have passed; whether `done` came true.
bool pumpUntil(const std::function<bool()>& done, double seconds = 10);
void pumpFor(double seconds);

/// Runs a tool to its end while the pump runs.
testsupport::Finished runTool(const std::vector<std::string>& arguments, const std::string& input = {});
/// Where the fixture programs are: RUVEX_FIXTURE_DIR, else the build's fixture folder.
std::string fixture(const std::string& name);

/// The bytes the X clipboard (or "primary") offers for `target`, through xclip; nothing when refused.
std::optional<std::string> selectionTarget(const std::string& target, const std::string& selection = "clipboard");
/// The same on Wayland through wl-paste, by MIME type.
std::optional<std::string> pasted(const std::string& type, const std::string& selection = "clipboard");
/// The types the Wayland selection offers, in order; empty when it has no owner.
std::vector<std::string> pastedTypes(const std::string& selection = "clipboard");

/// True once the window manager reports a window of `instance` (WM_CLASS) as the active one.
bool waitForFocus(const std::string& instance, double seconds = 10);
/// Sets `layout` on every keyboard device, the XTest one included (the server's own is not enough).
void setKeyboardLayout(const std::string& layout);
/// Presses (`down`) or releases a key through XTest, by X keycode.
void key(int keycode, bool down);

/// The paste keys of the Wayland rig's compositor: our virtual keyboard, or on KWin its fake input
/// (for which this test program is given a desktop entry that lists it, as the installed program has).
std::unique_ptr<platform::KeySender> pasteKeys(core::MainQueue& main, platform::HeldModifiers held);

/// The Qt text field of the fixtures (native on the Wayland rig): reports "<caret>\t<text>" on every
/// change and "key <code> <modifiers>" for every key; commands set it up.
class TextTarget {
public:
    /// Starts the field and waits until it has the keyboard focus. Unless `accessible`, it exposes its
    /// text on the accessibility bus only when the desktop's switch is on as it starts, as Qt programs do.
    explicit TextTarget(bool multiline = false, bool accessible = true);
    bool focused() const { return hasFocus; }
    /// Replaces the text (caret at its end); waits until done.
    void setText(const std::string& text);
    void select(int start, int length);
    /// Waits until the field holds `text`; returns the last text it reported.
    std::string waitForText(const std::string& text, double seconds = 10);
    testsupport::Process& process() { return program; }

private:
    void command(const std::string& line);
    testsupport::Process program;
    bool hasFocus = false;
    std::string lastText;
};

/// The real ruvex-voice program on the rig's desktop, with private settings and data folders, the
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
    /// Moves the trigger key (right Alt); by default through XTest.
    std::function<void(bool down)> trigger = [](bool down) { key(108, down); };

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
