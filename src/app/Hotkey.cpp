#include "app/Hotkey.h"

#include <utility>

namespace app {

Hotkey::Hotkey(platform::KeyMonitor& monitor, TriggerKey key) : monitor(monitor), watched(key) {
    monitor.onKey = [this](platform::KeyEvent event) { handle(event); };
}

Hotkey::~Hotkey() {
    monitor.stop();
    monitor.onKey = nullptr;
}

void Hotkey::setKey(TriggerKey key) {
    watched = key;
    held = false;
}

bool Hotkey::start() {
    stop();
    return monitor.start();
}

void Hotkey::stop() {
    monitor.stop();
    held = false;
}

void Hotkey::handle(platform::KeyEvent event) {
    if (event.keycode == watched.keyCode()) {
        if (event.pressed) {
            if (!held) {
                held = true;
                if (onPress)
                    onPress();
            }
        } else if (held) {
            held = false;
            if (onRelease)
                onRelease();
        }
        return;
    }
    // Any other key going down breaks the hold, and so does another modifier coming up (the user
    // held it before the trigger: trigger + modifier is a shortcut). Ordinary key releases do not.
    if (held && (event.pressed || event.isModifier)) {
        held = false;
        if (onInterrupt)
            onInterrupt();
    }
}

} // namespace app
