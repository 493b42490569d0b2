#include "app/Output.h"

#include "output/Inserter.h"
#include "platform/linux/AtspiCaretProbe.h"
#include "platform/qt/QtClipboard.h"
#include "platform/x11/X11FocusedWindow.h"
#include "platform/x11/XTestKeySender.h"

namespace app {

struct Output::Parts {
    explicit Parts(core::MainQueue& main)
        : caret([this]() -> std::optional<int> {
              // Asking only the focused window's application keeps a hung one elsewhere from costing time.
              auto window = focus.identify();
              return window ? window->processId : std::nullopt;
          }),
          inserter(caret, clipboard, keys, focus, main) {}
    platform::x11::X11FocusedWindow focus;
    platform::lnx::AtspiCaretProbe caret;
    platform::qt::QtClipboard clipboard;
    platform::x11::XTestKeySender keys;
    // Declared last: it borrows the four above.
    output::Inserter inserter;
};

Output::Output(core::MainQueue& main) : parts(std::make_unique<Parts>(main)) {}

Output::~Output() = default;

void Output::insert(const std::string& text) {
    parts->inserter.insert(text);
}

} // namespace app
