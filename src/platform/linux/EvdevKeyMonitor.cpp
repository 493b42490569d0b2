#include "platform/linux/EvdevKeyMonitor.h"

#include "platform/linux/EvdevDecoder.h"

#include <linux/input.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform::lnx {

namespace {

using Clock = std::chrono::steady_clock;

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

// Everything the reader thread owns: the open devices, the watch and the wake pipe. Built and first
// filled on the main thread in start(), then used by the reader thread alone until stop() joins it.
class EvdevKeyMonitor::Reader {
public:
    Reader(EvdevKeyMonitor& owner, std::weak_ptr<int> run) : owner(owner), run(std::move(run)) {}

    ~Reader() {
        for (Device& device : devices)
            close(device.fd);
        for (int fd : {watchFd, wake[0], wake[1]}) {
            if (fd >= 0)
                close(fd);
        }
    }

    bool prepare() {
        if (pipe2(wake.data(), O_CLOEXEC | O_NONBLOCK) != 0)
            return false;
        const InputSource& source = owner.source;
        watchFd = owner.devices->watch(source.device ? parentOf(*source.device) : source.directory);
        scan();
        publish();
        return true;
    }

    void startThread() {
        thread = std::thread([this] { loop(); });
    }

    void finish() {
        const char byte = 0;
        while (write(wake[1], &byte, 1) < 0 && errno == EINTR) {
        }
        if (thread.joinable())
            thread.join();
    }

private:
    struct Device {
        std::string path;
        int fd = -1;
        EvdevDecoder decoder;
        std::vector<unsigned char> partial; // the start of a record a read cut off
    };

    bool isOpen(const std::string& path) const {
        for (const Device& device : devices) {
            if (device.path == path)
                return true;
        }
        return false;
    }

    void scan() {
        const InputSource& source = owner.source;
        if (source.device) {
            if (!isOpen(*source.device))
                tryOpen(*source.device, true);
            return;
        }
        const auto names = owner.devices->list(source.directory);
        if (!names)
            return;
        for (const std::string& name : *names) {
            const std::string path = source.directory + "/" + name;
            if (name.rfind("event", 0) == 0 && !isOpen(path))
                tryOpen(path, false);
        }
    }

    void tryOpen(const std::string& path, bool chosen) {
        InputDevices& system = *owner.devices;
        int fd = -1;
        // A FIFO opened for writing too never reports a hang-up between two test writers.
        if (chosen && system.isFifo(path))
            fd = system.open(path, O_RDWR | O_NONBLOCK);
        if (fd < 0)
            fd = system.open(path, O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            return;
        // The device named by the user is read whatever it declares (a FIFO declares nothing).
        if (!chosen && !isTriggerKeyboard(system, fd)) {
            close(fd);
            return;
        }
        Device device;
        device.path = path;
        device.fd = fd;
        EvdevDecoder::KeyState state;
        if (readKeyState(fd, state))
            device.decoder.assume(state);
        devices.push_back(std::move(device));
    }

    bool readKeyState(int fd, EvdevDecoder::KeyState& state) {
        std::array<unsigned char, KEY_CNT / 8> bits{};
        if (owner.devices->control(fd, EVIOCGKEY(bits.size()), bits.data()) < 0)
            return false;
        for (unsigned code = 0; code < state.size(); ++code)
            state.set(code, (bits[code / 8] >> (code % 8)) & 1);
        return true;
    }

    void loop() {
        std::vector<pollfd> fds;
        for (;;) {
            fds.clear();
            fds.push_back({wake[0], POLLIN, 0});
            fds.push_back({watchFd, POLLIN, 0}); // a negative descriptor is skipped by poll
            for (const Device& device : devices)
                fds.push_back({device.fd, POLLIN, 0});
            int timeout = -1;
            if (rescanAt) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*rescanAt - Clock::now());
                timeout = static_cast<int>(std::max<long long>(0, left.count() + 1));
            }
            if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
                return;
            if (fds[0].revents != 0)
                return;
            std::vector<KeyEvent> events;
            // From the back, so that removing a device leaves the indices still to visit intact.
            for (std::size_t i = fds.size(); i-- > 2;) {
                if (fds[i].revents != 0)
                    drain(i - 2, fds[i].revents, events);
            }
            if (fds[1].revents != 0) {
                std::array<char, 4096> buffer;
                while (read(watchFd, buffer.data(), buffer.size()) > 0) {
                }
                rescanAt = Clock::now() + std::chrono::milliseconds(static_cast<int>(rescanDelay * 1000));
            }
            if (rescanAt && Clock::now() >= *rescanAt) {
                rescanAt.reset();
                scan();
            }
            publish();
            deliver(std::move(events));
        }
    }

    // Reads everything the device has; a device that has gone is closed and ends its held keys.
    void drain(std::size_t index, short revents, std::vector<KeyEvent>& events) {
        Device& device = devices[index];
        std::array<unsigned char, 64 * sizeof(input_event)> buffer;
        bool gone = false;
        for (;;) {
            const ssize_t got = read(device.fd, buffer.data(), buffer.size());
            if (got > 0) {
                decode(device, buffer.data(), static_cast<std::size_t>(got), events);
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            // End of file, ENODEV (unplugged) or any other error: the device is no longer usable.
            gone = got == 0 || errno != EAGAIN;
            break;
        }
        if (!gone && (revents & (POLLHUP | POLLERR | POLLNVAL)) == 0)
            return;
        device.decoder.vanish(events);
        close(device.fd);
        devices.erase(devices.begin() + static_cast<std::ptrdiff_t>(index));
        // The same node may already stand for a new device (a quick re-plug), or a FIFO be back.
        rescanAt = Clock::now() + std::chrono::milliseconds(static_cast<int>(rescanDelay * 1000));
    }

    void decode(Device& device, const unsigned char* data, std::size_t size, std::vector<KeyEvent>& events) {
        device.partial.insert(device.partial.end(), data, data + size);
        std::size_t used = 0;
        while (device.partial.size() - used >= sizeof(input_event)) {
            input_event record;
            std::memcpy(&record, device.partial.data() + used, sizeof record);
            used += sizeof record;
            device.decoder.feed(record, events);
            if (device.decoder.needsResync()) {
                EvdevDecoder::KeyState state; // unreadable (a FIFO): take every key as up
                readKeyState(device.fd, state);
                device.decoder.resync(state, events);
            }
        }
        device.partial.erase(device.partial.begin(), device.partial.begin() + static_cast<std::ptrdiff_t>(used));
    }

    void publish() {
        int held = 0;
        for (const Device& device : devices)
            held += device.decoder.heldModifiers();
        owner.modifiers.store(held, std::memory_order_relaxed);
        owner.devicesOpen.store(static_cast<int>(devices.size()), std::memory_order_relaxed);
    }

    void deliver(std::vector<KeyEvent> events) {
        if (events.empty())
            return;
        owner.main.post([run = run, &owner = owner, events = std::move(events)] {
            for (const KeyEvent& event : events) {
                // A handler may stop the monitor: the rest of the batch is then dropped.
                if (run.expired() || !owner.onKey)
                    return;
                owner.onKey(event);
            }
        });
    }

    EvdevKeyMonitor& owner;
    std::weak_ptr<int> run;
    std::vector<Device> devices;
    std::array<int, 2> wake{-1, -1};
    int watchFd = -1;
    std::optional<Clock::time_point> rescanAt;
    std::thread thread;
};

EvdevKeyMonitor::EvdevKeyMonitor(core::MainQueue& main, InputSource source, std::shared_ptr<InputDevices> devices)
    : main(main), source(std::move(source)), devices(std::move(devices)) {}

EvdevKeyMonitor::~EvdevKeyMonitor() {
    stop();
}

bool EvdevKeyMonitor::start() {
    if (reader)
        return true;
    run = std::make_shared<int>(0);
    auto made = std::make_unique<Reader>(*this, run);
    if (!made->prepare()) {
        run.reset();
        return false;
    }
    reader = std::move(made);
    reader->startThread();
    return true;
}

void EvdevKeyMonitor::stop() {
    run.reset();
    if (!reader)
        return;
    reader->finish();
    reader.reset();
    modifiers.store(0, std::memory_order_relaxed);
    devicesOpen.store(0, std::memory_order_relaxed);
}

} // namespace platform::lnx
