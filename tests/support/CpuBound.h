#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace testsupport {

/// True when `work` finishes in a forked child within `seconds` of processor time. For work that
/// must grow linearly with its input: given an input where a quadratic algorithm needs minutes
/// and a linear one well under a second, the bound is far from either, so machine speed and
/// sanitizers do not decide the outcome.
inline bool finishesWithinCpuSeconds(rlim_t seconds, const std::function<void()>& work) {
    pid_t child = fork();
    if (child == 0) {
        struct rlimit limit = {seconds, seconds + 1};
        setrlimit(RLIMIT_CPU, &limit);
        work();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace testsupport
