#pragma once

#include "platform/CaretProbe.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform::lnx {

/// Reads the character before the caret of the focused text field through the accessibility bus
/// (AT-SPI): the focused object is found under the active window of the focused application, and
/// its text interface gives the selection or caret offset and the text before it. Every bus call is
/// bounded, and the whole lookup gives up after `budgetSeconds`. Use on one thread only.
class AtspiCaretProbe : public CaretProbe {
public:
    /// `activeProcess` names the process that owns the active window, when the desktop tells it; the
    /// search then asks that application only, so a hung application elsewhere costs nothing.
    explicit AtspiCaretProbe(std::function<std::optional<int>()> activeProcess = {});

    std::optional<std::string> characterBeforeCaret() override;

    /// Each accessibility call waits at most this long for the application to answer.
    static constexpr int callTimeoutMilliseconds = 150;
    /// The lookup as a whole stops asking once this much time has passed.
    static constexpr double budgetSeconds = 0.5;

private:
    std::function<std::optional<int>()> activeProcess;
};

} // namespace platform::lnx
