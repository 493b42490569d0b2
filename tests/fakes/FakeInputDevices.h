#pragma once

#include "platform/linux/InputDevices.h"

#include <linux/input.h>
#include <linux/uinput.h>

#include <bitset>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace fakes {

/// /dev/input and /dev/uinput made of pipes: event nodes the test feeds with input_event records
/// (closing the feed unplugs the keyboard), nodes that refuse to open, a hot-plug watch the test
/// pokes, and a uinput node whose writes the test reads back, its ioctls recorded. Thread-safe: the
/// key monitor's reader calls it while the test changes it. Descriptors leak with the fake (tests).
class FakeInputDevices : public platform::lnx::InputDevices {
public:
    FakeInputDevices() { (void)!pipe2(watchPipe, O_CLOEXEC | O_NONBLOCK); }

    struct Node {
        int error = 0;    ///< minus errno for open(); 0: it opens
        int readEnd = -1; ///< what open() duplicates
        std::bitset<KEY_CNT> keys, held;
        std::string name = "AT Translated Set 2 keyboard";
        bool listed = true;
    };

    /// A keyboard node (with these keys) at `path`; returns the descriptor the test writes records into.
    int addKeyboard(const std::string& path,
                    std::vector<unsigned> keys = {KEY_LEFTSHIFT, KEY_RIGHTALT, KEY_RIGHTMETA, KEY_A, KEY_V},
                    const std::string& name = "AT Translated Set 2 keyboard") {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return -1;
        std::lock_guard lock(mutex);
        Node node{0, ends[0], {}, {}, name};
        for (unsigned key : keys)
            node.keys.set(key);
        nodes[path] = node;
        return ends[1];
    }
    /// A node open() refuses with `error` (EACCES, ...); `listed` false also hides it from list().
    void setError(const std::string& path, int error, bool listed = true) {
        std::lock_guard lock(mutex);
        nodes[path].error = -error;
        nodes[path].listed = listed;
    }
    void setHeld(const std::string& path, std::vector<unsigned> keys) {
        std::lock_guard lock(mutex);
        nodes[path].held.reset();
        for (unsigned key : keys)
            nodes[path].held.set(key);
    }
    /// What the hot-plug watch reports: something in the directory changed.
    void poke() { (void)!write(watchPipe[1], "x", 1); }
    int opens(const std::string& path) {
        std::lock_guard lock(mutex);
        return openCount[path];
    }

    // The uinput node: open() gives the write end of `uinput`; -errno in `uinputError` refuses.
    std::mutex mutex;
    int uinput[2] = {-1, -1};
    int uinputError = 0;
    int uinputOpens = 0;
    std::vector<std::pair<unsigned long, unsigned long>> requests; ///< (request, number argument or 0)
    uinput_setup setup{};
    std::string directory = "/dev/input"; ///< the one directory list() can read

    std::optional<std::vector<std::string>> list(const std::string& wanted) override {
        std::lock_guard lock(mutex);
        if (wanted != directory)
            return std::nullopt;
        std::vector<std::string> names;
        for (const auto& [path, node] : nodes) {
            if (node.listed && path.rfind(directory + "/", 0) == 0)
                names.push_back(path.substr(directory.size() + 1));
        }
        return names;
    }

    int open(const std::string& path, int flags) override {
        std::lock_guard lock(mutex);
        ++openCount[path];
        if (path == "/dev/uinput") {
            if (uinputError != 0 || pipe2(uinput, O_CLOEXEC | O_NONBLOCK) != 0)
                return uinputError;
            ++uinputOpens;
            return uinput[1];
        }
        auto found = nodes.find(path);
        if (found == nodes.end())
            return -ENOENT;
        if (found->second.error != 0 || (flags & O_ACCMODE) != O_RDONLY)
            return found->second.error != 0 ? found->second.error : -EACCES;
        const int fd = fcntl(found->second.readEnd, F_DUPFD_CLOEXEC, 0);
        openPaths[fd] = path;
        return fd;
    }

    int control(int fd, unsigned long request, void* argument) override {
        std::lock_guard lock(mutex);
        if (fd == uinput[1]) {
            const bool number = request == UI_SET_EVBIT || request == UI_SET_KEYBIT;
            requests.emplace_back(request, number ? reinterpret_cast<unsigned long>(argument) : 0);
            if (request == UI_DEV_SETUP)
                std::memcpy(&setup, argument, sizeof setup);
            return 0;
        }
        if (!openPaths.count(fd))
            return -ENOTTY;
        const Node& node = nodes[openPaths[fd]];
        const auto size = _IOC_SIZE(request);
        const std::bitset<KEY_CNT>* bits = nullptr;
        if (_IOC_NR(request) == _IOC_NR(EVIOCGBIT(EV_KEY, 0)))
            bits = &node.keys;
        else if (_IOC_NR(request) == _IOC_NR(EVIOCGKEY(0)))
            bits = &node.held;
        if (bits != nullptr) {
            auto* bytes = static_cast<unsigned char*>(argument);
            std::memset(bytes, 0, size);
            for (unsigned code = 0; code < std::min<unsigned>(KEY_CNT, size * 8); ++code)
                bytes[code / 8] |= static_cast<unsigned char>(bits->test(code) << (code % 8));
            return static_cast<int>(size);
        }
        if (_IOC_NR(request) == _IOC_NR(EVIOCGNAME(0))) {
            std::strncpy(static_cast<char*>(argument), node.name.c_str(), size);
            return static_cast<int>(node.name.size());
        }
        return -EINVAL;
    }

    int watch(const std::string&) override { return fcntl(watchPipe[0], F_DUPFD_CLOEXEC, 0); }
    bool isFifo(const std::string&) override { return false; }

private:
    std::map<std::string, Node> nodes;
    std::map<int, std::string> openPaths;
    std::map<std::string, int> openCount;
    int watchPipe[2] = {-1, -1};
};

} // namespace fakes
