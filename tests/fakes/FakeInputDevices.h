#pragma once

#include "platform/linux/InputDevices.h"

#include <linux/input.h>
#include <linux/uinput.h>

#include <bitset>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace fakes {

/// The kernel's input interface made of pipes: event nodes that the test feeds with input_event
/// records, nodes that refuse to open, a hot-plug watch the test pokes, and a uinput node whose
/// writes land in a pipe the test reads, with the ioctls recorded. Thread-safe: the key monitor's
/// reader calls it while the test changes it.
class FakeInputDevices : public platform::lnx::InputDevices {
public:
    struct Node {
        int error = 0;             ///< minus errno for open(), 0 when it opens
        int readEnd = -1;          ///< what open() duplicates
        std::bitset<KEY_CNT> keys; ///< EVIOCGBIT(EV_KEY)
        std::bitset<KEY_CNT> held; ///< EVIOCGKEY
        std::string name;
        bool fifo = false;
    };
    /// One recorded ioctl on the uinput node.
    struct Request {
        unsigned long request;
        unsigned long value; ///< the number, for the requests that take one
    };

    FakeInputDevices() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
            watchRead = ends[0];
            watchWrite = ends[1];
        }
    }
    ~FakeInputDevices() override {
        for (auto& [path, node] : nodes)
            closeFd(node.readEnd);
        for (int fd : writeEnds)
            closeFd(fd);
        closeFd(watchRead);
        closeFd(watchWrite);
        closeFd(uinputRead);
    }

    /// A keyboard at `path` (listed in its directory) with the trigger keys and letters; returns the
    /// descriptor the test writes its records into. Closing that descriptor unplugs the keyboard.
    int addKeyboard(const std::string& path, const std::string& name = "AT Translated Set 2 keyboard",
                    std::initializer_list<unsigned> keys = {KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_LEFTALT, KEY_RIGHTALT,
                                                            KEY_LEFTMETA, KEY_RIGHTMETA, KEY_A, KEY_V, KEY_Z}) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return -1;
        std::lock_guard lock(mutex);
        Node& node = nodes[path];
        node = Node{};
        node.readEnd = ends[0];
        node.name = name;
        for (unsigned key : keys)
            node.keys.set(key);
        writeEnds.push_back(ends[1]);
        return ends[1];
    }
    /// Closes the descriptor addKeyboard() gave: the reader sees the device hang up.
    void unplug(int writeEnd) {
        std::lock_guard lock(mutex);
        std::erase(writeEnds, writeEnd);
        closeFd(writeEnd);
    }
    /// A node that open() refuses with `error` (EACCES, ENOENT, ...).
    void addRefused(const std::string& path, int error) {
        std::lock_guard lock(mutex);
        nodes[path] = Node{};
        nodes[path].error = -error;
    }
    /// Takes the node out of its directory and makes it unopenable (its pipe stays as it is).
    void remove(const std::string& path) {
        std::lock_guard lock(mutex);
        nodes[path].error = -ENODEV;
        gone[path] = true;
    }
    void setHeld(const std::string& path, std::initializer_list<unsigned> keys) {
        std::lock_guard lock(mutex);
        nodes[path].held.reset();
        for (unsigned key : keys)
            nodes[path].held.set(key);
    }
    void setFifo(const std::string& path) {
        std::lock_guard lock(mutex);
        nodes[path].fifo = true;
    }
    /// What the hot-plug watch reports: something in the directory changed.
    void poke() {
        const char byte = 1;
        (void)!write(watchWrite, &byte, 1);
    }

    /// The read end of the uinput node's writes; -1 until the node was opened.
    int uinputOutput() const {
        std::lock_guard lock(mutex);
        return uinputRead;
    }
    std::vector<Request> uinputRequests() const {
        std::lock_guard lock(mutex);
        return requests;
    }
    uinput_setup uinputSetup() const {
        std::lock_guard lock(mutex);
        return setup;
    }
    int uinputOpens() const {
        std::lock_guard lock(mutex);
        return uinputOpenCount;
    }
    /// Stops reading the uinput node's writes: the sender's next write fails.
    void breakUinput() {
        std::lock_guard lock(mutex);
        closeFd(uinputRead);
        uinputRead = -1;
    }
    /// Makes /dev/uinput refuse (minus errno) or open (0).
    void setUinputError(int error) {
        std::lock_guard lock(mutex);
        uinputError = error;
    }
    int opens(const std::string& path) const {
        std::lock_guard lock(mutex);
        auto found = openCount.find(path);
        return found == openCount.end() ? 0 : found->second;
    }

    std::optional<std::vector<std::string>> list(const std::string& directory) override {
        std::lock_guard lock(mutex);
        if (directory != listedDirectory)
            return std::nullopt;
        std::vector<std::string> names;
        for (const auto& [path, node] : nodes) {
            if (path.rfind(directory + "/", 0) == 0 && !gone[path])
                names.push_back(path.substr(directory.size() + 1));
        }
        return names;
    }

    int open(const std::string& path, int flags) override {
        std::lock_guard lock(mutex);
        ++openCount[path];
        if (path == "/dev/uinput")
            return openUinput();
        auto found = nodes.find(path);
        if (found == nodes.end())
            return -ENOENT;
        if (found->second.error != 0)
            return found->second.error;
        if ((flags & O_ACCMODE) == O_RDWR && !found->second.fifo)
            return -EACCES;
        const int fd = fcntl(found->second.readEnd, F_DUPFD_CLOEXEC, 0);
        openPaths[fd] = path;
        return fd;
    }

    int control(int fd, unsigned long request, void* argument) override {
        std::lock_guard lock(mutex);
        if (fd == uinputFd) {
            requests.push_back({request, reinterpret_cast<unsigned long>(argument)});
            if (request == UI_DEV_SETUP)
                std::memcpy(&setup, argument, sizeof setup);
            return 0;
        }
        auto path = openPaths.find(fd);
        if (path == openPaths.end() || _IOC_TYPE(request) != 'E')
            return -ENOTTY;
        const Node& node = nodes[path->second];
        if (node.fifo)
            return -ENOTTY;
        const auto size = _IOC_SIZE(request);
        auto copyBits = [&](const std::bitset<KEY_CNT>& bits) {
            std::vector<unsigned char> bytes(KEY_CNT / 8);
            for (unsigned code = 0; code < KEY_CNT; ++code) {
                if (bits.test(code))
                    bytes[code / 8] |= static_cast<unsigned char>(1u << (code % 8));
            }
            std::memcpy(argument, bytes.data(), std::min<std::size_t>(size, bytes.size()));
            return static_cast<int>(std::min<std::size_t>(size, bytes.size()));
        };
        if (_IOC_NR(request) == _IOC_NR(EVIOCGBIT(EV_KEY, 0)))
            return copyBits(node.keys);
        if (_IOC_NR(request) == _IOC_NR(EVIOCGKEY(0)))
            return copyBits(node.held);
        if (_IOC_NR(request) == _IOC_NR(EVIOCGNAME(0))) {
            std::memset(argument, 0, size);
            std::memcpy(argument, node.name.data(), std::min<std::size_t>(size - 1, node.name.size()));
            return static_cast<int>(node.name.size());
        }
        return -EINVAL;
    }

    int watch(const std::string& directory) override {
        std::lock_guard lock(mutex);
        watched = directory;
        return fcntl(watchRead, F_DUPFD_CLOEXEC, 0);
    }

    bool isFifo(const std::string& path) override {
        std::lock_guard lock(mutex);
        auto found = nodes.find(path);
        return found != nodes.end() && found->second.fifo;
    }

    /// The directory list() answers for; others cannot be listed.
    std::string listedDirectory = "/dev/input";
    std::string watched;

private:
    int openUinput() {
        if (uinputError != 0)
            return uinputError;
        ++uinputOpenCount;
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return -EMFILE;
        closeFd(uinputRead);
        uinputRead = ends[0];
        uinputFd = ends[1];
        return ends[1];
    }
    static void closeFd(int fd) {
        if (fd >= 0)
            ::close(fd);
    }

    mutable std::mutex mutex;
    std::map<std::string, Node> nodes;
    std::map<std::string, bool> gone;
    std::map<int, std::string> openPaths;
    std::map<std::string, int> openCount;
    std::vector<int> writeEnds;
    int watchRead = -1;
    int watchWrite = -1;
    int uinputError = 0;
    int uinputRead = -1;
    int uinputFd = -1;
    int uinputOpenCount = 0;
    std::vector<Request> requests;
    uinput_setup setup{};
};

} // namespace fakes
