// The tray application's start-up in this process, on the test desktop, with a keyboard permission
// the test grants: the trust poll a Wayland backend needs.
#include "app/AppDelegate.h"
#include "Tones.h"
#include "platform/qt/QtMainQueue.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

class GrantableTrust : public platform::Trust {
public:
    explicit GrantableTrust(bool& granted) : granted(granted) {}
    bool isTrusted() override { return granted; }
    bool ask() override { return granted; }

private:
    bool& granted;
};

std::vector<std::string> readLines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool pumpUntil(const std::function<bool()>& done, double seconds = 20) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void tap() {
    QProcess xdotool;
    xdotool.start("xdotool", {"keydown", "108", "keyup", "108"});
    xdotool.waitForFinished(10000);
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

TEST(AppDelegate, TheKeyMonitorStartsWhenThePermissionIsGrantedAndSaysSo) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        GTEST_SKIP() << "no display (run under scripts/rig.sh)";
    testsupport::IsolatedHome home;
    testsupport::writeFile(home.configHome() / "Ruvex Voice" / "settings.json", R"({"onboardingDone": true})");
    const auto log = home.path() / "events.log";
    setenv("RUVEX_VOICE_TEST_LOG", log.c_str(), 1);
    setenv("RUVEX_VOICE_MODEL_DIR", tones::modelDirectory().c_str(), 1);

    int argc = 1;
    char name[] = "ruvex-voice";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    platform::qt::QtMainQueue main;
    bool granted = false;
    app::AppDelegate delegate(main, std::make_unique<GrantableTrust>(granted));
    delegate.launch();
    ASSERT_TRUE(pumpUntil([&] { return contains(readLines(log), "engine loaded"); }));

    // Without the permission the trigger key is not watched.
    tap();
    granted = true;
    const std::string ready = "flash Готово: держите правый Alt и говорите";
    ASSERT_TRUE(pumpUntil([&] { return contains(readLines(log), ready); }));
    EXPECT_FALSE(contains(readLines(log), "hide")) << "a press was seen before the permission";

    // Once granted, it is: a tap is discarded, which hides the pill.
    tap();
    EXPECT_TRUE(pumpUntil([&] { return contains(readLines(log), "hide"); }));
    EXPECT_EQ(readLines(log).size(), 3u);
}
