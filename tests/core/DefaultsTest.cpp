#include "core/Defaults.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

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
