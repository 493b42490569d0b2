#pragma once

#include "DesktopSupport.h"

#include <QString>

#include <string>
#include <vector>

/// The tray item's menu as a desktop panel sees it: through the dbusmenu interface of the item.
class TrayMenu {
public:
    /// `item` is the bus name the item registered with.
    explicit TrayMenu(QString item);
    /// Opens the menu (so the program builds it) and reads its items, submenus included, as gdbus
    /// prints them.
    std::string layout();
    /// True when an item titled `label` is in the menu.
    bool has(const std::string& label);
    /// Clicks the item titled `label`; false when there is none.
    bool click(const std::string& label);

    /// Opens the menu and lists its items in order, each submenu's items after the submenu's own and
    /// indented by two spaces: "-" for a separator, "[x] "/"[ ] " before a check item, " (off)" after
    /// a disabled one.
    std::vector<std::string> items();

private:
    desktop::ToolResult call(const QString& method, const QStringList& arguments);
    QString item;
};

/// One item of a dbusmenu layout as gdbus prints it.
struct MenuItem {
    std::string id;
    std::string label;
    std::string line; ///< as TrayMenu::items() lists it
};
/// The visible items of a layout, in order.
std::vector<MenuItem> menuItems(const std::string& layout);
