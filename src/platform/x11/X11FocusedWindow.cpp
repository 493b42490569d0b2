#include "platform/x11/X11FocusedWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <memory>
#include <string>

namespace platform::x11 {

namespace {

// Walking up from the input focus stops after this many parents (a real tree is a few deep).
constexpr int maximumDepth = 64;

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

/// A window that vanishes between two requests answers with an error; Xlib's default handler would
/// end the program. Errors are ignored while the object lives (the reads then give no value).
class QuietErrors {
public:
    explicit QuietErrors(Display* display) : display(display), previous(XSetErrorHandler(&ignoreErrors)) {}
    ~QuietErrors() {
        XSync(display, False);
        XSetErrorHandler(previous);
    }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    Display* display;
    XErrorHandler previous;
};

struct Property {
    std::unique_ptr<unsigned char, decltype(&XFree)> data{nullptr, &XFree};
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
};

Property property(Display* display, Window window, Atom name, Atom type) {
    Property result;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, name, 0, 1024, False, type, &result.type, &result.format, &result.items,
                           &after, &data) == Success)
        result.data.reset(data);
    if (result.type == None || result.items == 0)
        result.data.reset();
    return result;
}

std::optional<unsigned long> cardinal(Display* display, Window window, Atom name, Atom type) {
    Property value = property(display, window, name, type);
    if (!value.data || value.format != 32)
        return std::nullopt;
    // Xlib hands 32-bit items as longs.
    return *reinterpret_cast<unsigned long*>(value.data.get());
}

std::optional<WindowIdentity> identity(Display* display, Window window) {
    Property value = property(display, window, XA_WM_CLASS, XA_STRING);
    if (!value.data || value.format != 8)
        return std::nullopt;
    // WM_CLASS holds two strings, each ended by a NUL: the instance, then the class.
    std::string both(reinterpret_cast<const char*>(value.data.get()), value.items);
    WindowIdentity found;
    auto end = both.find('\0');
    found.instance = both.substr(0, end);
    if (end != std::string::npos) {
        found.className = both.substr(end + 1);
        found.className = found.className.substr(0, found.className.find('\0'));
    }
    Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    if (auto pid = cardinal(display, window, pidAtom, XA_CARDINAL); pid && *pid > 0)
        found.processId = static_cast<int>(*pid);
    return found;
}

std::optional<WindowIdentity> fromInputFocus(Display* display, Window root) {
    Window window = None;
    int revert = 0;
    XGetInputFocus(display, &window, &revert);
    for (int depth = 0; depth < maximumDepth; ++depth) {
        if (window == None || window == PointerRoot || window == root)
            return std::nullopt;
        if (auto found = identity(display, window))
            return found;
        Window treeRoot = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &treeRoot, &parent, &children, &count))
            return std::nullopt;
        XFree(children);
        window = parent;
    }
    return std::nullopt;
}

} // namespace

X11FocusedWindow::X11FocusedWindow() = default;

std::optional<WindowIdentity> X11FocusedWindow::identify() {
    Display* display = connection.display();
    if (display == nullptr)
        return std::nullopt;
    QuietErrors quiet(display);
    const Window root = DefaultRootWindow(display);
    const Atom activeWindow = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    if (auto active = cardinal(display, root, activeWindow, XA_WINDOW); active && *active != None) {
        if (auto found = identity(display, static_cast<Window>(*active)))
            return found;
    }
    return fromInputFocus(display, root);
}

} // namespace platform::x11
