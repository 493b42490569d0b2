#include "app/Tray.h"

#include "ui/Glyph.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPalette>

namespace app {

Tray::Tray() {
    item.setToolTip(QStringLiteral("Ruvex Voice"));
    item.setContextMenu(&items);
    QObject::connect(&items, &QMenu::aboutToShow, [this] {
        items.clear();
        if (onMenu)
            onMenu(items);
    });
    // A left click opens the same menu, as a menu-bar item would.
    QObject::connect(&item, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && !items.isVisible())
            items.popup(item.geometry().isEmpty() ? QCursor::pos() : item.geometry().bottomLeft());
    });
    setRecording(false);
}

void Tray::show() {
    item.show();
}

void Tray::setRecording(bool recording) {
    isRecording = recording;
    const QColor ink = QGuiApplication::palette().color(QPalette::WindowText);
    item.setIcon(ui::optionGlyph(recording, ink));
}

} // namespace app
