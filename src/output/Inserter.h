#pragma once

#include "core/MainQueue.h"
#include "platform/CaretProbe.h"
#include "platform/Clipboard.h"
#include "platform/FocusedWindow.h"
#include "platform/KeySender.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace output {

/// Puts the final text of a dictation into the focused application: decides on a leading space,
/// saves the clipboard, writes the text, sends the paste shortcut and puts the user's clipboard back
/// a little later. Everything, including the delayed restore, runs on the main queue's thread.
/// The platform objects are borrowed and must outlive the inserter; a restore still pending when the
/// inserter goes is dropped.
class Inserter {
public:
    Inserter(platform::CaretProbe& caret, platform::Clipboard& clipboard, platform::KeySender& keys,
             platform::FocusedWindow& focus, core::MainQueue& main);
    ~Inserter();
    Inserter(const Inserter&) = delete;
    Inserter& operator=(const Inserter&) = delete;

    /// Pastes `text` where the text cursor stands; call on the main thread. `done`, when set, is
    /// called later on the main thread with whether the paste shortcut was sent. When it could not be,
    /// the text stays on the clipboard for the user to paste and nothing is put back.
    void insert(const std::string& text, std::function<void(bool pasted)> done = {});

    /// True when a space must go between `before` (the whole character before the insertion point,
    /// as the caret probe reports it) and the pasted text: not at the start of a text, not after
    /// whitespace, and not after an opening bracket, an opening quotation mark, a quote or a slash.
    static bool needsLeadingSpace(const std::optional<std::string>& before);

    /// The shortcut that pastes in a window of this class: terminals do not paste with Ctrl+V.
    static platform::PasteShortcut shortcutFor(const std::optional<platform::WindowIdentity>& window);

    /// The text as one line, for a terminal: a shell runs every line of a paste the moment it arrives
    /// unless bracketed paste is on, which nothing outside the terminal can see. Each run of line
    /// breaks (with the spaces around it) becomes one space; breaks at either end go.
    static std::string oneLine(const std::string& text);

    /// Seconds between the paste and putting the previous clipboard back.
    static constexpr double restoreDelay = 0.6;

private:
    struct Pending;
    struct State;

    platform::ClipboardContents saveOriginal(platform::Selection selection);
    void scheduleRestore(platform::Selection selection, std::uint64_t generation);

    platform::CaretProbe& caret;
    platform::Clipboard& clipboard;
    platform::KeySender& keys;
    platform::FocusedWindow& focus;
    core::MainQueue& main;
    std::shared_ptr<State> state;
};

} // namespace output
