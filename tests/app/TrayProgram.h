#pragma once

#include "DbusMenu.h"
#include "DesktopSupport.h"
#include "support/TempDir.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

/// The real ruvex-voice program, started on the test desktop with a private settings and data folder,
/// the first run marked done (or not), and a model folder of the test's choosing. What its pill shows and when
/// its engine is loaded is read from the program's test log.
class TrayProgram {
public:
    explicit TrayProgram(const std::filesystem::path& modelFolder, bool onboardingDone = true);

    /// Waits until the log holds `line` after the first `after` lines; false after `seconds`.
    bool waitForLine(const std::string& line, std::size_t after = 0, double seconds = 20);
    /// Every line logged so far.
    std::vector<std::string> lines() const;

    /// One dictation: the trigger goes down, the recording starts, `audio` plays into the virtual
    /// microphone, the trigger comes up. Returns false when the recording never started.
    bool dictate(const std::filesystem::path& audio, const std::string& screenshotName = {});

    const std::filesystem::path& dataHome() const { return data; }
    desktop::Program& program() { return *process; }

private:
    testsupport::TempDir dir;
    std::filesystem::path data;
    std::filesystem::path log;
    std::unique_ptr<desktop::Program> process;
};

/// Saves the whole screen as <name>.png in $RUVEX_SCREENSHOTS (the build folder's screenshots/),
/// for people to look at; nothing when the variable is unset.
void screenshot(const std::string& name);

/// Presses or releases a key through XTest, by X keycode.
void key(const char* action, int keycode);
