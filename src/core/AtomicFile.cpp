#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace core {

std::error_code writeFileAtomically(const std::filesystem::path& file, std::string_view contents) {
    std::error_code error;
    auto folder = file.parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, error);
        if (error) {
            return error;
        }
    }
    std::string temporary = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(temporary.data());
    if (fd < 0) {
        return {errno, std::generic_category()};
    }
    auto fail = [&](int code) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return std::error_code(code, std::generic_category());
    };
    const char* data = contents.data();
    size_t left = contents.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errno);
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    // mkstemp creates 0600; settings and dictionaries are ordinary user files.
    if (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0) {
        return fail(errno);
    }
    if (::close(fd) != 0) {
        int code = errno;
        ::unlink(temporary.c_str());
        return {code, std::generic_category()};
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        int code = errno;
        ::unlink(temporary.c_str());
        return {code, std::generic_category()};
    }
    return {};
}

} // namespace core
