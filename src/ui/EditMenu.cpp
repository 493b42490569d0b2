#include "ui/EditMenu.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QWidget>

namespace ui {

namespace {

/// Calls the slot `method` (undo, redo, cut, copy, paste, selectAll) on the focused widget of `window`,
/// if it is one of its text fields and has that slot.
void sendToFocus(QWidget* window, const char* method) {
    QWidget* focus = QApplication::focusWidget();
    if (!focus || focus->window() != window->window())
        return;
    const QByteArray signature = QByteArray(method) + "()";
    if (focus->metaObject()->indexOfSlot(signature.constData()) < 0)
        return;
    QMetaObject::invokeMethod(focus, method);
}

} // namespace

QMenuBar* editOnlyMenu(QWidget* window) {
    auto* bar = new QMenuBar(window);
    QMenu* edit = bar->addMenu(QStringLiteral("Правка"));
    struct Item {
        const char* title;
        const char* method;
        QKeySequence keys;
    };
    const Item items[] = {
        {"Отменить", "undo", QKeySequence(Qt::CTRL | Qt::Key_Z)},
        {"Повторить", "redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
        {nullptr, nullptr, {}},
        {"Вырезать", "cut", QKeySequence(Qt::CTRL | Qt::Key_X)},
        {"Скопировать", "copy", QKeySequence(Qt::CTRL | Qt::Key_C)},
        {"Вставить", "paste", QKeySequence(Qt::CTRL | Qt::Key_V)},
        {"Выделить все", "selectAll", QKeySequence(Qt::CTRL | Qt::Key_A)},
    };
    for (const Item& item : items) {
        if (!item.title) {
            edit->addSeparator();
            continue;
        }
        QAction* action = edit->addAction(QString::fromUtf8(item.title));
        action->setShortcut(item.keys);
        action->setShortcutContext(Qt::WindowShortcut);
        const char* method = item.method;
        QObject::connect(action, &QAction::triggered, window, [window, method] { sendToFocus(window, method); });
    }
    return bar;
}

} // namespace ui
