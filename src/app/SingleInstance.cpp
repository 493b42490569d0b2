#include "app/SingleInstance.h"

#include "core/Paths.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace app {

SingleInstance::SingleInstance(const std::filesystem::path& file) {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    descriptor = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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
