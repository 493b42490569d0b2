#include "app/SingleInstance.h"

#include "core/Paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace app {

namespace {

/// True when `folder` is a real folder of this user that nobody else may write to. Another user
/// who owns the folder, or may write to it, can put a lock file of theirs there and hold it.
bool isPrivateFolder(const std::filesystem::path& folder) {
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

/// Creates the folder (its parents as usual, itself private) and says whether it can be trusted.
bool preparePrivateFolder(const std::filesystem::path& folder) {
    std::error_code ignored;
    std::filesystem::create_directories(folder.parent_path(), ignored);
    ::mkdir(folder.c_str(), 0700);
    return isPrivateFolder(folder);
}

} // namespace

SingleInstance::SingleInstance(const std::filesystem::path& file) {
    auto lockFile = file;
    // The runtime folder's stand-in under /tmp is a name any local user can take first.
    if (!preparePrivateFolder(file.parent_path())) {
        lockFile = core::paths::configDirectory() / file.filename();
        if (!preparePrivateFolder(lockFile.parent_path())) {
            held = true;
            return;
        }
    }
    descriptor = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        // A folder we cannot write must not keep the user from dictating.
        held = true;
        return;
    }
    int result;
    do {
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    held = result == 0;
}

SingleInstance::~SingleInstance() {
    if (descriptor >= 0)
        ::close(descriptor);
}

std::filesystem::path SingleInstance::defaultFile() {
    return core::paths::runtimeDirectory() / "ruvex-voice.lock";
}

} // namespace app
