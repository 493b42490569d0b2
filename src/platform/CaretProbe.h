#pragma once

#include <optional>
#include <string>

namespace platform {

/// Asks the focused application for the character just before its insertion point.
class CaretProbe {
public:
    CaretProbe() = default;
    CaretProbe(const CaretProbe&) = delete;
    CaretProbe& operator=(const CaretProbe&) = delete;
    virtual ~CaretProbe() = default;

    /// The last whole user-perceived character (grapheme cluster, UTF-8) before the caret, or before
    /// the start of the selection when there is one. Empty when the caret is at the start of the text;
    /// nullopt when the focused application gives no answer. Bounded in time: a hung application
    /// costs a fraction of a second, never a hang. Call on the main thread.
    virtual std::optional<std::string> characterBeforeCaret() = 0;
};

} // namespace platform
