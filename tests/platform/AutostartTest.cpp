#include "platform/linux/Autostart.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

using platform::lnx::Autostart;

namespace {

/// Runs desktop-file-validate on `file`; its exit status and what it printed.
std::pair<int, std::string> validate(const std::filesystem::path& file) {
    const std::string command = "desktop-file-validate '" + file.string() + "' 2>&1";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {-1, "popen failed"};
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

/// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name(name) {
        if (const char* old = std::getenv(name))
            previous = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (previous)
            setenv(name, previous->c_str(), 1);
        else
            unsetenv(name);
    }

private:
    const char* name;
    std::optional<std::string> previous;
};

class AutostartTest : public ::testing::Test {
protected:
    testsupport::IsolatedHome home;
    ScopedEnv systemDirs{"XDG_CONFIG_DIRS", (home.path() / "xdg").string()};
    ScopedEnv desktop{"XDG_CURRENT_DESKTOP", "XFCE"};
    ScopedEnv appImage{"APPIMAGE", ""};
    std::filesystem::path systemFile = home.path() / "xdg" / "autostart" / "app.ruvex.voice.desktop";
};

TEST_F(AutostartTest, TogglesAValidEntryStartingThisProgram) {
    EXPECT_EQ(Autostart::userFile(), home.configHome() / "autostart" / "app.ruvex.voice.desktop");
    EXPECT_FALSE(Autostart::isEnabled());

    Autostart::setEnabled(true);
    EXPECT_TRUE(Autostart::isEnabled());
    const std::string text = testsupport::readFile(Autostart::userFile());
    EXPECT_NE(text.find("\nExec=" + std::filesystem::read_symlink("/proc/self/exe").string() + "\n"), std::string::npos)
        << text;
    const auto [status, output] = validate(Autostart::userFile());
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");

    Autostart::setEnabled(true); // again: still one valid entry
    EXPECT_TRUE(Autostart::isEnabled());

    Autostart::setEnabled(false);
    EXPECT_FALSE(Autostart::isEnabled());
    EXPECT_FALSE(std::filesystem::exists(Autostart::userFile()));
    Autostart::setEnabled(false); // nothing to remove is not a failure
}

TEST_F(AutostartTest, PathsWithSpacesAndSpecialCharactersAreQuoted) {
    EXPECT_EQ(Autostart::execArgument("/usr/bin/ruvex-voice"), "/usr/bin/ruvex-voice");
    EXPECT_EQ(Autostart::execArgument("/opt/Ruvex Voice/ruvex-voice"), "\"/opt/Ruvex Voice/ruvex-voice\"");
    EXPECT_EQ(Autostart::execArgument("/home/a$b/100%/x"), "\"/home/a\\\\$b/100%%/x\"");
    EXPECT_EQ(Autostart::execArgument("/a\\b c"), "\"/a\\\\\\\\b c\"");

    for (const std::string program : {"/opt/Ruvex Voice/ruvex-voice", "/home/a$b/100%/x y", "/tmp/it's \"here\""}) {
        const auto file = home.path() / "check.desktop";
        testsupport::writeFile(file, Autostart::entryText(program));
        const auto [status, output] = validate(file);
        EXPECT_EQ(status, 0) << program << ": " << output;
    }

    ScopedEnv image{"APPIMAGE", "/home/me/Apps/Ruvex Voice.AppImage"};
    EXPECT_EQ(Autostart::runningProgram(), "/home/me/Apps/Ruvex Voice.AppImage");
    Autostart::setEnabled(true);
    EXPECT_NE(testsupport::readFile(Autostart::userFile()).find("Exec=\"/home/me/Apps/Ruvex Voice.AppImage\"\n"),
              std::string::npos);
}

TEST_F(AutostartTest, ReadsTheEntryTheDesktopWouldUse) {
    const auto user = Autostart::userFile();
    const std::string head = "[Desktop Entry]\nType=Application\nName=Ruvex Voice\nExec=/bin/true\n";

    testsupport::writeFile(user, head + "Hidden=true\n");
    EXPECT_FALSE(Autostart::isEnabled());
    testsupport::writeFile(user, head + "X-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(Autostart::isEnabled());
    testsupport::writeFile(user, head + "OnlyShowIn=GNOME;KDE;\n");
    EXPECT_FALSE(Autostart::isEnabled());
    testsupport::writeFile(user, head + "OnlyShowIn=GNOME;XFCE;\n");
    EXPECT_TRUE(Autostart::isEnabled());
    testsupport::writeFile(user, head + "NotShowIn=XFCE;\n");
    EXPECT_FALSE(Autostart::isEnabled());
    testsupport::writeFile(user, "Exec=/bin/true\n");
    EXPECT_FALSE(Autostart::isEnabled()) << "no [Desktop Entry] group: not an entry";

    // A system-wide entry enables it too, unless the user's entry hides it; turning it off then writes
    // a hiding entry instead of removing the file.
    std::filesystem::remove(user);
    testsupport::writeFile(systemFile, head);
    EXPECT_TRUE(Autostart::isEnabled());
    Autostart::setEnabled(false);
    EXPECT_FALSE(Autostart::isEnabled());
    EXPECT_TRUE(std::filesystem::exists(user));
    const auto [status, output] = validate(user);
    EXPECT_EQ(status, 0) << output;
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

namespace {

TEST(DesktopEntryTest, TheMenuEntryValidatesAndNamesTheProgram) {
    const std::filesystem::path entry = RUVEX_DESKTOP_ENTRY;
    const auto [status, output] = validate(entry);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
    const std::string text = testsupport::readFile(entry);
    EXPECT_NE(text.find("\nExec=ruvex-voice\n"), std::string::npos);
    EXPECT_NE(text.find("\nIcon=ruvex-voice\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(entry.parent_path() / "ruvex-voice.svg"));
}

} // namespace
