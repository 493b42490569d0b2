#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>

namespace ui {

/// The tray glyph, 18 × 18 logical pixels drawn at `devicePixelRatio`: the bare ⌥ sign when idle, a
/// smaller ⌥ cut out of a rounded square while recording. Drawn in `ink`, because Linux trays do not
/// tint monochrome icons: pass the tray's text colour.
QImage optionGlyphImage(bool recording, const QColor& ink, qreal devicePixelRatio);

/// The same glyph as an icon holding the 1× and 2× drawings.
QIcon optionGlyph(bool recording, const QColor& ink);

} // namespace ui
