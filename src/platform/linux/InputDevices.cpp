#include "platform/linux/InputDevices.h"

#include <linux/input.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::lnx {

std::optional<std::vector<std::string>> SystemInputDevices::list(const std::string& directory) {
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr)
        return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    return names;
}

int SystemInputDevices::open(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0 ? fd : -errno;
}

int SystemInputDevices::control(int fd, unsigned long request, void* argument) {
    const int result = ::ioctl(fd, request, argument);
    return result >= 0 ? result : -errno;
}

int SystemInputDevices::watch(const std::string& directory) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return -errno;
    // IN_ATTRIB: udev sets a new node's group and ACL just after creating it.
    if (inotify_add_watch(fd, directory.c_str(), IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_TO) < 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    return fd;
}

bool SystemInputDevices::isFifo(const std::string& path) {
    struct stat facts {};
    return ::stat(path.c_str(), &facts) == 0 && S_ISFIFO(facts.st_mode);
}

bool isTriggerKeyboard(InputDevices& devices, int fd) {
    std::array<unsigned char, KEY_CNT / 8> keys{};
    if (devices.control(fd, EVIOCGBIT(EV_KEY, keys.size()), keys.data()) < 0)
        return false;
    auto has = [&](unsigned code) { return (keys[code / 8] >> (code % 8)) & 1; };
    if (!(has(KEY_RIGHTALT) || has(KEY_RIGHTMETA)) || !has(KEY_V))
        return false;
    std::array<char, 256> name{};
    if (devices.control(fd, EVIOCGNAME(name.size() - 1), name.data()) < 0)
        return true;
    return std::strncmp(name.data(), ownKeyboardName, name.size()) != 0;
}

InputSource InputSource::fromEnvironment() {
    InputSource source;
    if (const char* device = std::getenv("RUVEX_VOICE_INPUT_DEVICE"); device != nullptr && *device != '\0')
        source.device = device;
    return source;
}

} // namespace platform::lnx
