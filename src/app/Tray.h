#pragma once

#include <QMenu>
#include <QSystemTrayIcon>

#include <functional>

namespace app {

/// The tray item: the ⌥ glyph in the idle or recording form, and a menu rebuilt each time it opens.
/// Main thread only.
class Tray {
public:
    Tray();
    Tray(const Tray&) = delete;
    Tray& operator=(const Tray&) = delete;

    /// Shows the item with the idle glyph.
    void show();
    /// Draws the glyph in its recording or idle form, in the desktop's text colour (Linux trays do
    /// not tint monochrome icons).
    void setRecording(bool recording);
    bool recording() const { return isRecording; }

    /// Fills the emptied menu each time it is about to open.
    std::function<void(QMenu&)> onMenu;

    QSystemTrayIcon& icon() { return item; }
    QMenu& menu() { return items; }

private:
    QMenu items;
    QSystemTrayIcon item;
    bool isRecording = false;
};

} // namespace app
