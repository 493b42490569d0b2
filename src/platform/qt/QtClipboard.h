#pragma once

#include "platform/Clipboard.h"

#include <array>

namespace platform::qt {

/// The desktop's selections through QClipboard (on X11, Qt's xcb plugin owns the selection and
/// answers other programs' requests from the event loop). Needs a QGuiApplication; main thread only.
class QtClipboard : public Clipboard {
public:
    QtClipboard() = default;

    ClipboardContents save(Selection selection) override;
    void writeText(Selection selection, const std::string& text) override;
    void restore(Selection selection, const ClipboardContents& contents) override;
    bool ownsSelection(Selection selection) override;
    std::uint64_t generation(Selection selection) const override;

private:
    std::array<std::uint64_t, 2> writes = {0, 0};
};

} // namespace platform::qt
