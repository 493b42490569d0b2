#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <string>

namespace core {

mode_t newFileMode() {
    // umask() cannot be read without setting it, which would race with other threads.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Umask:", 0) == 0) {
            try {
                return 0666 & ~static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
            } catch (const std::exception&) {
                break;
            }
        }
    }
    return 0644;
}

std::error_code readRegularFile(const std::filesystem::path& file, std::string& contents, std::size_t limit) {
    contents.clear();
    // Non-blocking, so that opening a pipe without a writer returns at once; regular files ignore it.
    int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {errno, std::generic_category()};
    }
    auto fail = [&](int code) {
        ::close(fd);
        contents.clear();
        return std::error_code(code, std::generic_category());
    };
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return fail(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    }
    if (static_cast<std::uintmax_t>(info.st_size) > limit) {
        return fail(EFBIG);
    }
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errno);
        }
        if (got == 0) {
            break;
        }
        // The file may have grown since it was measured.
        if (contents.size() + static_cast<std::size_t>(got) > limit) {
            return fail(EFBIG);
        }
        contents.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return {};
}

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
    // mkstemp creates 0600: a new file gets what the user's umask allows, a replaced one keeps its mode.
    struct stat existing {};
    mode_t mode = ::stat(file.c_str(), &existing) == 0 ? existing.st_mode & 0777 : newFileMode();
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
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
