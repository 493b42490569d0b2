#pragma once

#include "platform/AudioSource.h"
#include "platform/CaretProbe.h"
#include "platform/Clipboard.h"
#include "platform/FocusedWindow.h"
#include "platform/KeyMonitor.h"
#include "platform/KeySender.h"
#include "platform/PillSurface.h"
#include "platform/SecretStore.h"
#include "platform/Trust.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

/// Every service the program takes from the desktop it runs on, built once at start by the backend
/// factory (X11, native Wayland, Wayland with XWayland) and owned by the
/// application for the whole run. Tests build one from fakes.
struct Desktop {
    /// One line naming the session and the mechanisms chosen ("X11", "Wayland (sway): …").
    std::string description;
    std::unique_ptr<KeyMonitor> keyMonitor;
    std::unique_ptr<KeySender> keySender;
    std::unique_ptr<Clipboard> clipboard;
    std::unique_ptr<FocusedWindow> focusedWindow;
    std::unique_ptr<CaretProbe> caretProbe;
    std::unique_ptr<Trust> trust;
    std::shared_ptr<SecretStore> secretStore;
    /// A fresh capture of the default microphone, one per dictation.
    std::function<std::unique_ptr<AudioSource>()> microphone;
    /// Whether the default microphone can be used; may block for seconds: call off the main thread.
    std::function<MicrophoneState()> microphoneState;
    /// Whether translucent windows show as such (a compositing manager runs); unset: always.
    std::function<bool()> translucency;
    /// Where the pill is shown when the desktop has no window type for it (Wayland layer shell);
    /// null: the pill's own window.
    std::unique_ptr<PillSurface> pillSurface;
};

} // namespace platform
