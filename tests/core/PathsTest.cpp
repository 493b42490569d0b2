#include "core/Paths.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(Paths, FollowTheXdgVariablesAndTheirDefaults) {
    testsupport::IsolatedHome home;
    EXPECT_EQ(core::paths::applicationSupport(), home.dataHome() / "Ruvex Voice");
    EXPECT_EQ(core::paths::configDirectory(), home.configHome() / "Ruvex Voice");

    // Unset or relative values fall back to the folders under HOME.
    unsetenv("XDG_DATA_HOME");
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(core::paths::applicationSupport(), home.path() / ".local/share/Ruvex Voice");
    EXPECT_EQ(core::paths::configDirectory(), home.path() / ".config/Ruvex Voice");
}

} // namespace
