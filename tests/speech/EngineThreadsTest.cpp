#include "speech/Engine.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <thread>

namespace {

using speech::Engine;
using testsupport::TempDir;
using testsupport::writeFile;

int affinityCores() {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    sched_getaffinity(0, sizeof mask, &mask);
    return CPU_COUNT(&mask);
}

TEST(EngineThreads, UsableCoresFollowTheAffinityMaskAndTheSmallestCgroupQuotaAbove) {
    TempDir root;
    const int cores = affinityCores();
    writeFile(root / "v2", "0::/user.slice/app\n");
    writeFile(root / "user.slice/app/cpu.max", "max 100000\n");
    EXPECT_EQ(Engine::usableCores(root.path(), root / "v2"), cores) << "no quota";
    writeFile(root / "user.slice/cpu.max", "150000 100000\n");
    EXPECT_EQ(Engine::usableCores(root.path(), root / "v2"), 1) << "1.5 cores allowed above the process's cgroup";
    writeFile(root / "cpu.max", "50000 100000\n");
    EXPECT_EQ(Engine::usableCores(root.path(), root / "v2"), 1) << "never below one core";
    writeFile(root / "user.slice/cpu.max", "6400000 100000\n");
    writeFile(root / "cpu.max", "max 100000\n");
    EXPECT_EQ(Engine::usableCores(root.path(), root / "v2"), cores) << "a quota above the mask";

    // cgroup v1: the hierarchy holding the cpu controller; other hierarchies are not read.
    writeFile(root / "v1", "5:memory:/box\n4:cpu,cpuacct:/box\n");
    writeFile(root / "cpu,cpuacct/box/cpu.cfs_quota_us", "-1\n");
    writeFile(root / "cpu,cpuacct/box/cpu.cfs_period_us", "100000\n");
    writeFile(root / "memory/box/cpu.max", "100000 100000\n");
    EXPECT_EQ(Engine::usableCores(root.path(), root / "v1"), cores);
    writeFile(root / "cpu,cpuacct/cpu.cfs_quota_us", "100000\n");
    writeFile(root / "cpu,cpuacct/cpu.cfs_period_us", "100000\n");
    EXPECT_EQ(Engine::usableCores(root.path(), root / "v1"), 1);
}

TEST(EngineThreads, TheDefaultIsOneThreadWhereOneCoreMayBeUsed) {
    int threads = 0;
    std::thread pinned([&threads] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        sched_setaffinity(0, sizeof one, &one);
        threads = Engine::defaultThreads();
    });
    pinned.join();
    EXPECT_EQ(threads, 1);
}

} // namespace
