#pragma once

#include <bitset>

struct _XDisplay; // Xlib's Display, kept out of our headers

namespace platform::x11 {

/// A connection of our own to the X display named by DISPLAY, closed with the object. Each X11
/// backend object owns one, so that none depends on Qt's connection or on another's thread.
class XConnection {
public:
    /// Opens the display; without one the object is empty (false).
    XConnection();
    ~XConnection();
    XConnection(XConnection&& other) noexcept;
    XConnection& operator=(XConnection&& other) noexcept;
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    /// Closes the connection early; the object is then empty.
    void close();

    explicit operator bool() const { return handle != nullptr; }
    _XDisplay* display() const { return handle; }

    /// The keycodes that the server's modifier map assigns to any of the eight modifiers.
    std::bitset<256> modifierKeycodes() const;

    /// True when a compositing manager owns the default screen's _NET_WM_CM_Sn selection, so
    /// translucent windows show as such; false without one or without a display.
    bool compositing() const;

private:
    _XDisplay* handle = nullptr;
};

} // namespace platform::x11
