#pragma once

class QMenuBar;
class QWidget;

namespace ui {

/// Gives `window` a menu bar holding only "Правка" (undo, redo, cut, copy, paste, select all with their
/// usual shortcuts), each sent to whichever text field of that window has the keyboard focus. The bar is
/// owned by `window`; the caller places it (for example with QLayout::setMenuBar).
QMenuBar* editOnlyMenu(QWidget* window);

} // namespace ui
