#include "platform/x11/XInputKeyMonitor.h"

#include "platform/x11/XConnection.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <array>
#include <bitset>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace platform::x11 {

struct XInputKeyMonitor::Connection {
    XConnection display;
    int opcode = 0;
    int xkbEventBase = -1;           // -1 when the server has no XKB
    std::array<int, 2> wake{-1, -1}; // a pipe: writing to wake[1] ends the reader
    std::thread reader;

    ~Connection() {
        for (int fd : wake) {
            if (fd >= 0)
                close(fd);
        }
    }

    void read(core::MainQueue& main, std::weak_ptr<int> run, KeyMonitor& owner);
};

XInputKeyMonitor::XInputKeyMonitor(core::MainQueue& main) : main(main) {}

XInputKeyMonitor::~XInputKeyMonitor() {
    stop();
}

bool XInputKeyMonitor::start() {
    if (connection) {
        return true;
    }
    auto opened = std::make_unique<Connection>();
    Display* display = opened->display.display();
    if (display == nullptr) {
        return false;
    }
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opened->opcode, &event, &error)) {
        return false;
    }
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(display, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) {
        return false;
    }
    std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
    XISetMask(bits.data(), XI_RawKeyPress);
    XISetMask(bits.data(), XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(bits.size()), bits.data()};
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    // Xlib speaks XKB, and the server then tells it of modifier map changes through XKB events
    // rather than the core MappingNotify: ask for them.
    int xkbOpcode = 0;
    int xkbError = 0;
    int xkbMajor = XkbMajorVersion;
    int xkbMinor = XkbMinorVersion;
    if (XkbQueryExtension(display, &xkbOpcode, &opened->xkbEventBase, &xkbError, &xkbMajor, &xkbMinor)) {
        const unsigned long changes = XkbMapNotifyMask | XkbNewKeyboardNotifyMask;
        XkbSelectEvents(display, XkbUseCoreKbd, changes, changes);
    } else {
        opened->xkbEventBase = -1;
    }
    // Keys pressed after start() returns must be seen: make the server apply the selection now.
    XSync(display, False);
    if (pipe2(opened->wake.data(), O_CLOEXEC) != 0) {
        return false;
    }
    run = std::make_shared<int>(0);
    connection = std::move(opened);
    connection->reader = std::thread(
        [this, reader = connection.get(), token = std::weak_ptr<int>(run)] { reader->read(main, token, *this); });
    return true;
}

void XInputKeyMonitor::stop() {
    run.reset();
    if (!connection) {
        return;
    }
    const char byte = 0;
    while (write(connection->wake[1], &byte, 1) < 0 && errno == EINTR) {
    }
    connection->reader.join();
    connection.reset();
}

// The reader thread: owns the display from start() until stop() joins it.
void XInputKeyMonitor::Connection::read(core::MainQueue& main, std::weak_ptr<int> run, KeyMonitor& owner) {
    Display* dpy = display.display();
    std::bitset<256> modifiers = display.modifierKeycodes();
    std::array<pollfd, 2> fds{pollfd{ConnectionNumber(dpy), POLLIN, 0}, pollfd{wake[0], POLLIN, 0}};
    for (;;) {
        while (XPending(dpy) > 0) {
            XEvent event;
            XNextEvent(dpy, &event);
            if (event.type == MappingNotify) {
                XRefreshKeyboardMapping(&event.xmapping);
                modifiers = display.modifierKeycodes();
                continue;
            }
            if (xkbEventBase >= 0 && event.type == xkbEventBase) {
                modifiers = display.modifierKeycodes();
                continue;
            }
            if (event.xcookie.type != GenericEvent || event.xcookie.extension != opcode ||
                !XGetEventData(dpy, &event.xcookie)) {
                continue;
            }
            if (event.xcookie.evtype == XI_RawKeyPress || event.xcookie.evtype == XI_RawKeyRelease) {
                const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
                const auto keycode = static_cast<unsigned>(raw->detail);
                KeyEvent key{keycode, event.xcookie.evtype == XI_RawKeyPress, keycode < 256 && modifiers.test(keycode)};
                main.post([run, &owner, key] {
                    if (!run.expired() && owner.onKey)
                        owner.onKey(key);
                });
            }
            XFreeEventData(dpy, &event.xcookie);
        }
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents != 0 || (fds[0].revents & (POLLHUP | POLLERR)) != 0) {
            return;
        }
    }
}

} // namespace platform::x11
