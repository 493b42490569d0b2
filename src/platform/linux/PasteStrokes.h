#pragma once

#include "platform/KeySender.h"

#include <linux/input-event-codes.h>

#include <utility>
#include <vector>

namespace platform::lnx {

/// The kernel key codes of a paste shortcut as strokes (code, pressed): pressed in order, released
/// in the reverse one. What every sender speaking kernel codes types (uinput, the portal, KWin's fake
/// input and the virtual keyboard, whose keymap uses these codes).
inline std::vector<std::pair<unsigned, bool>> pasteStrokes(PasteShortcut shortcut) {
    std::vector<unsigned> chord;
    switch (shortcut) {
    case PasteShortcut::controlV:
        chord = {KEY_LEFTCTRL, KEY_V};
        break;
    case PasteShortcut::controlShiftV:
        chord = {KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_V};
        break;
    case PasteShortcut::shiftInsert:
        chord = {KEY_LEFTSHIFT, KEY_INSERT};
        break;
    }
    std::vector<std::pair<unsigned, bool>> strokes;
    for (unsigned key : chord)
        strokes.emplace_back(key, true);
    for (auto key = chord.rbegin(); key != chord.rend(); ++key)
        strokes.emplace_back(*key, false);
    return strokes;
}

} // namespace platform::lnx
