#include "platform/x11/X11FocusedWindow.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace platform::x11 {

namespace {

// Replies are malloc'ed by xcb; this frees them on every path.
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply> ReplyPtr<Reply> owned(Reply* reply) {
    return ReplyPtr<Reply>(reply, &std::free);
}

// Walking up from the input focus stops after this many parents (a real tree is a few deep).
constexpr int maximumDepth = 64;

} // namespace

struct X11FocusedWindow::Connection {
    xcb_connection_t* xcb = nullptr;
    xcb_window_t root = XCB_NONE;
    xcb_atom_t activeWindow = XCB_NONE;
    xcb_atom_t processId = XCB_NONE;

    Connection() {
        int screenNumber = 0;
        xcb = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(xcb)) {
            xcb_disconnect(xcb);
            xcb = nullptr;
            return;
        }
        auto screens = xcb_setup_roots_iterator(xcb_get_setup(xcb));
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
            xcb_screen_next(&screens);
        }
        root = screens.data->root;
        activeWindow = atom("_NET_ACTIVE_WINDOW");
        processId = atom("_NET_WM_PID");
    }
    ~Connection() {
        if (xcb != nullptr) {
            xcb_disconnect(xcb);
        }
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_atom_t atom(std::string_view name) {
        auto reply = owned(xcb_intern_atom_reply(
            xcb, xcb_intern_atom(xcb, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
        return reply ? reply->atom : XCB_NONE;
    }

    // A property's value; errors (a window that is gone) come back as an empty reply.
    ReplyPtr<xcb_get_property_reply_t> property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
        xcb_generic_error_t* error = nullptr;
        auto reply = owned(xcb_get_property_reply(xcb, xcb_get_property(xcb, 0, window, name, type, 0, 1024), &error));
        std::free(error);
        if (reply && (reply->type == XCB_NONE || xcb_get_property_value_length(reply.get()) <= 0)) {
            reply.reset();
        }
        return reply;
    }

    std::optional<std::uint32_t> cardinal(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) {
        auto reply = property(window, name, type);
        if (!reply || reply->format != 32) {
            return std::nullopt;
        }
        return *static_cast<std::uint32_t*>(xcb_get_property_value(reply.get()));
    }

    std::optional<WindowIdentity> identity(xcb_window_t window) {
        auto reply = property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
        if (!reply || reply->format != 8) {
            return std::nullopt;
        }
        // WM_CLASS holds two strings, each ended by a NUL: the instance, then the class.
        const char* value = static_cast<const char*>(xcb_get_property_value(reply.get()));
        std::string both(value, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
        WindowIdentity identity;
        auto end = both.find('\0');
        identity.instance = both.substr(0, end);
        if (end != both.npos) {
            identity.className = both.substr(end + 1);
            identity.className = identity.className.substr(0, identity.className.find('\0'));
        }
        if (auto pid = cardinal(window, processId, XCB_ATOM_CARDINAL); pid && *pid > 0) {
            identity.processId = static_cast<int>(*pid);
        }
        return identity;
    }

    std::optional<WindowIdentity> fromInputFocus() {
        auto focus = owned(xcb_get_input_focus_reply(xcb, xcb_get_input_focus(xcb), nullptr));
        if (!focus) {
            return std::nullopt;
        }
        xcb_window_t window = focus->focus;
        for (int depth = 0; depth < maximumDepth; ++depth) {
            if (window == XCB_NONE || window == XCB_INPUT_FOCUS_POINTER_ROOT || window == root) {
                return std::nullopt;
            }
            if (auto found = identity(window)) {
                return found;
            }
            auto tree = owned(xcb_query_tree_reply(xcb, xcb_query_tree(xcb, window), nullptr));
            if (!tree) {
                return std::nullopt;
            }
            window = tree->parent;
        }
        return std::nullopt;
    }
};

X11FocusedWindow::X11FocusedWindow() : connection(std::make_unique<Connection>()) {}

X11FocusedWindow::~X11FocusedWindow() = default;

std::optional<WindowIdentity> X11FocusedWindow::identify() {
    if (connection->xcb == nullptr) {
        return std::nullopt;
    }
    if (auto active = connection->cardinal(connection->root, connection->activeWindow, XCB_ATOM_WINDOW);
        active && *active != XCB_NONE) {
        if (auto found = connection->identity(*active)) {
            return found;
        }
    }
    return connection->fromInputFocus();
}

} // namespace platform::x11
