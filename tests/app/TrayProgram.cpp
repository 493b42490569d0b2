#include "TrayProgram.h"

#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>

TrayProgram::TrayProgram(const std::filesystem::path& modelFolder, bool onboardingDone)
    : data(dir / "data"), log(dir / "events.log") {
    testsupport::writeFile(dir / "config" / "Ruvex Voice" / "settings.json",
                           onboardingDone ? R"({"onboardingDone": true})" : "{}");
    process = std::make_unique<desktop::Program>(
        QString::fromStdString(RUVEX_VOICE_PROGRAM), QStringList{},
        QStringList{"XDG_CONFIG_HOME=" + QString::fromStdString((dir / "config").string()),
                    "XDG_DATA_HOME=" + QString::fromStdString(data.string()),
                    "RUVEX_VOICE_MODEL_DIR=" + QString::fromStdString(modelFolder.string()),
                    "RUVEX_VOICE_TEST_LOG=" + QString::fromStdString(log.string()),
                    // Nothing leaves the machine, whatever key the test keyring holds.
                    "RUVEX_VOICE_AI_URL=http://127.0.0.1:9", "QT_QPA_PLATFORM=xcb"});
}

std::vector<std::string> TrayProgram::lines() const {
    std::vector<std::string> result;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

bool TrayProgram::waitForLine(const std::string& line, std::size_t after, double seconds) {
    return desktop::pumpUntil(
        [&] {
            auto all = lines();
            for (std::size_t i = after; i < all.size(); ++i)
                if (all[i] == line)
                    return true;
            return false;
        },
        seconds);
}

bool TrayProgram::dictate(const std::filesystem::path& audio, const std::string& screenshotName) {
    const std::size_t before = lines().size();
    key("keydown", 108);
    // The pill starts listening 0.15 s after the recorder started: from then on every sample counts.
    if (!waitForLine("listening", before)) {
        key("keyup", 108);
        return false;
    }
    if (!screenshotName.empty())
        screenshot(screenshotName);
    desktop::runTool("paplay", {"--device=vmic_out", QString::fromStdString(audio.string())});
    key("keyup", 108);
    return true;
}

void screenshot(const std::string& name) {
    const char* folder = std::getenv("RUVEX_SCREENSHOTS");
    if (!folder || !*folder)
        return;
    std::filesystem::create_directories(folder);
    desktop::runTool("import", {"-window", "root",
                                QString::fromStdString((std::filesystem::path(folder) / (name + ".png")).string())});
}

void key(const char* action, int keycode) {
    desktop::runTool("xdotool", {action, QString::number(keycode)});
}
