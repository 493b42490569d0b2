#include "core/Defaults.h"

#include "core/AtomicFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

TEST(Defaults, MissingFileReadsEmptyAndWritesKeepOtherKeys) {
    testsupport::IsolatedHome home;
    auto defaults = core::Defaults::standard();
    EXPECT_EQ(defaults.path(), home.configHome() / "Ruvex Voice" / "settings.json");
    EXPECT_FALSE(defaults.boolean("english"));
    EXPECT_FALSE(defaults.string("style"));

    ASSERT_TRUE(defaults.setString("style", "natural"));
    ASSERT_TRUE(defaults.setBoolean("english", true));
    ASSERT_TRUE(defaults.setBoolean("aiCleanup", false));
    EXPECT_EQ(defaults.string("style"), "natural");
    EXPECT_EQ(defaults.boolean("english"), true);
    EXPECT_EQ(defaults.boolean("aiCleanup"), false);

    // A type mismatch reads as absent, so callers fall back to their defaults.
    EXPECT_FALSE(defaults.boolean("style"));
    EXPECT_FALSE(defaults.string("english"));

    ASSERT_TRUE(defaults.remove("english"));
    EXPECT_FALSE(defaults.boolean("english"));
    EXPECT_EQ(core::Defaults::standard().string("style"), "natural"); // another holder sees it
}

TEST(Defaults, DamagedFileReadsAsDefaultsAndIsKeptAsideBeforeTheFirstWrite) {
    testsupport::IsolatedHome home;
    auto defaults = core::Defaults::standard();
    const std::string damaged = "{\"style\": \"natural\", \"english\": tr";
    writeFile(defaults.path(), damaged);

    EXPECT_FALSE(defaults.string("style"));
    EXPECT_FALSE(defaults.boolean("english"));
    EXPECT_EQ(readFile(defaults.path()), damaged); // reading never destroys it

    ASSERT_TRUE(defaults.setBoolean("onboardingDone", true));
    EXPECT_EQ(readFile(defaults.path().string() + ".bad"), damaged);
    EXPECT_EQ(defaults.boolean("onboardingDone"), true);

    // A JSON value that is not an object counts as damaged too.
    writeFile(defaults.path(), "[1, 2]");
    EXPECT_FALSE(defaults.boolean("onboardingDone"));
    ASSERT_TRUE(defaults.setString("triggerKey", "rightCommand"));
    EXPECT_EQ(readFile(defaults.path().string() + ".bad"), "[1, 2]");

    // So does a document nested far deeper than settings ever are: copying or writing it out
    // would recurse once per level.
    const std::string deep = "{\"style\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
    writeFile(defaults.path(), deep);
    EXPECT_FALSE(defaults.string("style"));
    ASSERT_TRUE(defaults.setBoolean("english", true));
    EXPECT_EQ(readFile(defaults.path().string() + ".bad"), deep);
    EXPECT_EQ(defaults.boolean("english"), true);
}

TEST(Defaults, FileThatCannotBeReadIsLeftAloneAndWritesFail) {
    testsupport::TempDir dir;
    // A folder in the file's place cannot be read by anyone.
    std::filesystem::create_directories(dir / "settings.json" / "inside");
    core::Defaults folder(dir / "settings.json");
    EXPECT_FALSE(folder.string("style"));
    EXPECT_FALSE(folder.setBoolean("english", true));
    EXPECT_TRUE(std::filesystem::exists(dir / "settings.json" / "inside"));
    EXPECT_FALSE(std::filesystem::exists(dir / "settings.json.bad"));

    // A file its user may not read, tried as an unprivileged user since root reads anything.
    const std::string settings = "{\"style\": \"business\", \"english\": true}";
    auto locked = dir / "locked.json";
    writeFile(locked, settings);
    ASSERT_EQ(::chmod(locked.c_str(), 0200), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(9);
        }
        core::Defaults defaults(locked);
        _exit(defaults.string("style") ? 1 : defaults.setBoolean("aiCleanup", true) ? 2 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(locked), settings);
    EXPECT_FALSE(std::filesystem::exists(locked.string() + ".bad"));
}

TEST(AtomicFile, NewFilesFollowTheUmaskAndReplacedFilesKeepTheirMode) {
    testsupport::TempDir dir;
    auto modeOf = [](const std::filesystem::path& file) {
        struct stat info {};
        ::stat(file.c_str(), &info);
        return info.st_mode & 0777;
    };
    mode_t previous = ::umask(077);
    bool written = core::writeAtomically(dir / "new.txt", "a");
    ::umask(previous);
    ASSERT_TRUE(written);
    EXPECT_EQ(modeOf(dir / "new.txt"), 0600u);

    writeFile(dir / "kept.txt", "old");
    ASSERT_EQ(::chmod((dir / "kept.txt").c_str(), 0640), 0);
    ASSERT_TRUE(core::writeAtomically(dir / "kept.txt", "new"));
    EXPECT_EQ(modeOf(dir / "kept.txt"), 0640u);
    EXPECT_EQ(readFile(dir / "kept.txt"), "new");
}

TEST(Defaults, UnwritableLocationReportsFalse) {
    testsupport::IsolatedHome home;
    // A regular file where the folder should be: no user, root included, can create it.
    writeFile(home.configHome() / "Ruvex Voice", "not a folder");
    auto defaults = core::Defaults::standard();
    EXPECT_FALSE(defaults.setBoolean("english", true));
    EXPECT_FALSE(defaults.boolean("english"));
    EXPECT_EQ(testsupport::readFile(home.configHome() / "Ruvex Voice"), "not a folder"); // untouched
}

TEST(Defaults, ConcurrentReadersAndWritersSeeWholeValues) {
    testsupport::IsolatedHome home;
    auto defaults = core::Defaults::standard();
    ASSERT_TRUE(defaults.setString("style", "natural"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, path = defaults.path()] {
            core::Defaults mine(path);
            for (int i = 0; i < 100; ++i) {
                if (t == 0) {
                    mine.setString("style", i % 2 ? "natural" : "business");
                } else {
                    auto style = mine.string("style");
                    ASSERT_TRUE(style == "natural" || style == "business");
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
}

} // namespace
