#include "platform/linux/Autostart.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

using platform::lnx::Autostart;

namespace {

/// What desktop-file-validate printed about `file`: empty for a valid entry with no remarks.
std::string validate(const std::filesystem::path& file) {
    FILE* pipe = popen(("desktop-file-validate '" + file.string() + "' 2>&1").c_str(), "r");
    std::string output;
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pipe ? pclose(pipe) : -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? output : "failed: " + output;
}

// Every test sets these afresh, so none needs putting back.
class AutostartTest : public ::testing::Test {
protected:
    AutostartTest() {
        setenv("XDG_CONFIG_DIRS", (home.path() / "xdg").c_str(), 1);
        setenv("XDG_CURRENT_DESKTOP", "XFCE", 1);
        setenv("APPIMAGE", "", 1);
    }
    testsupport::IsolatedHome home;
};

TEST_F(AutostartTest, TogglesAValidEntryStartingThisProgram) {
    EXPECT_EQ(Autostart::userFile(), home.configHome() / "autostart" / "app.ruvex.voice.desktop");
    EXPECT_FALSE(Autostart::isEnabled());

    for (int twice = 0; twice < 2; ++twice) {
        Autostart::setEnabled(true);
        EXPECT_TRUE(Autostart::isEnabled());
        const std::string text = testsupport::readFile(Autostart::userFile());
        EXPECT_NE(text.find("\nExec=" + std::filesystem::read_symlink("/proc/self/exe").string() + "\n"),
                  std::string::npos)
            << text;
        EXPECT_EQ(validate(Autostart::userFile()), "");
    }
    for (int twice = 0; twice < 2; ++twice) {
        Autostart::setEnabled(false);
        EXPECT_FALSE(Autostart::isEnabled());
        EXPECT_FALSE(std::filesystem::exists(Autostart::userFile()));
    }
}

TEST_F(AutostartTest, PathsWithSpacesAndSpecialCharactersAreQuoted) {
    EXPECT_EQ(Autostart::execArgument("/usr/bin/ruvex-voice"), "/usr/bin/ruvex-voice");
    EXPECT_EQ(Autostart::execArgument("/opt/Ruvex Voice/ruvex-voice"), "\"/opt/Ruvex Voice/ruvex-voice\"");
    EXPECT_EQ(Autostart::execArgument("/home/a$b/100%/x"), "\"/home/a\\\\$b/100%%/x\"");
    EXPECT_EQ(Autostart::execArgument("/a\\b c"), "\"/a\\\\\\\\b c\"");
    for (const std::string program : {"/opt/Ruvex Voice/ruvex-voice", "/home/a$b/100%/x y", "/tmp/it's \"here\""}) {
        testsupport::writeFile(home.path() / "check.desktop", Autostart::entryText(program));
        EXPECT_EQ(validate(home.path() / "check.desktop").rfind("failed", 0), std::string::npos) << program;
    }

    setenv("APPIMAGE", "/home/me/Apps/Ruvex Voice.AppImage", 1);
    EXPECT_EQ(Autostart::runningProgram(), "/home/me/Apps/Ruvex Voice.AppImage");
    Autostart::setEnabled(true);
    EXPECT_NE(testsupport::readFile(Autostart::userFile()).find("Exec=\"/home/me/Apps/Ruvex Voice.AppImage\"\n"),
              std::string::npos);
}

TEST_F(AutostartTest, ReadsTheEntryTheDesktopWouldUse) {
    const auto user = Autostart::userFile();
    const std::string head = "[Desktop Entry]\nType=Application\nName=Ruvex Voice\nExec=/bin/true\n";
    const std::pair<std::string, bool> entries[] = {
        {head + "Hidden=true\n", false},
        {head + "X-GNOME-Autostart-enabled=false\n", false},
        {head + "OnlyShowIn=GNOME;KDE;\n", false},
        {head + "OnlyShowIn=GNOME;XFCE;\n", true},
        {head + "NotShowIn=XFCE;\n", false},
        {"Exec=/bin/true\n", false}, // no [Desktop Entry] group: not an entry
    };
    for (const auto& [text, enabled] : entries) {
        testsupport::writeFile(user, text);
        EXPECT_EQ(Autostart::isEnabled(), enabled) << text;
    }

    // A system-wide entry enables it too, unless the user's entry hides it; turning it off then writes
    // a hiding entry instead of removing the file.
    std::filesystem::remove(user);
    testsupport::writeFile(home.path() / "xdg" / "autostart" / "app.ruvex.voice.desktop", head);
    EXPECT_TRUE(Autostart::isEnabled());
    Autostart::setEnabled(false);
    EXPECT_FALSE(Autostart::isEnabled());
    EXPECT_TRUE(std::filesystem::exists(user));
    EXPECT_EQ(validate(user).rfind("failed", 0), std::string::npos);
    Autostart::setEnabled(true);
    EXPECT_TRUE(Autostart::isEnabled());
}

TEST_F(AutostartTest, FailuresSayWhyAndChangeNothing) {
    if (geteuid() == 0) {
        // Root writes through permissions: block the folder with a plain file instead.
        testsupport::writeFile(home.configHome() / "autostart", "not a folder");
    } else {
        std::filesystem::permissions(home.configHome(),
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    }
    try {
        Autostart::setEnabled(true);
        FAIL() << "expected a failure";
    } catch (const Autostart::Failure& failure) {
        EXPECT_STREQ(failure.what(), "нет доступа к папке автозапуска");
    }
    EXPECT_FALSE(Autostart::isEnabled());
}

} // namespace
