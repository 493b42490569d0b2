#include "output/Inserter.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace output {

using platform::ClipboardContents;
using platform::PasteShortcut;
using platform::Selection;

namespace {

// Characters that open something the dictated text belongs inside: no space after them.
constexpr std::array<std::string_view, 8> openers = {
    "(", "[", "{", "\u00AB", "\u201E", "\"", "'", "/",
};

// Window classes (Wayland app ids) of terminal emulators that paste with Ctrl+Shift+V (matched as
// substrings). foot, WezTerm and Ghostty on Wayland go by these app ids.
constexpr std::array<std::string_view, 18> controlShiftTerminals = {
    "gnome-terminal",
    "konsole",
    "xfce4-terminal",
    "tilix",
    "terminator",
    "alacritty",
    "kitty",
    "wezterm",
    "lxterminal",
    "mate-terminal",
    "qterminal",
    "st-256color",
    "kgx",
    "org.gnome.console",
    "ptyxis",
    "foot",
    "org.wezfurlong.wezterm",
    "com.mitchellh.ghostty",
};

// Terminals without a Ctrl+Shift+V binding: they paste the primary selection with Shift+Insert.
constexpr std::array<std::string_view, 2> primaryTerminals = {"xterm", "urxvt"};

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

template <std::size_t N> bool mentionsAny(const std::string& name, const std::array<std::string_view, N>& list) {
    return std::any_of(list.begin(), list.end(), [&](std::string_view entry) { return name.find(entry) != name.npos; });
}

// Bytes of the line break starting at `at` (LF, CR, VT, FF, NEL, U+2028, U+2029), or 0.
std::size_t lineBreakAt(std::string_view text, std::size_t at) {
    const auto rest = text.substr(at);
    if (rest.empty()) {
        return 0;
    }
    if (std::string_view("\n\r\v\f").find(rest.front()) != std::string_view::npos) {
        return 1;
    }
    if (rest.starts_with("\u0085")) {
        return 2;
    }
    return rest.starts_with("\u2028") || rest.starts_with("\u2029") ? 3 : 0;
}

std::size_t indexOf(Selection selection) {
    return selection == Selection::clipboard ? 0 : 1;
}

} // namespace

// What the program wrote over and what it must put back: one per selection, until its restore runs.
struct Inserter::Pending {
    std::uint64_t generation;
    ClipboardContents saved;
};

// Shared with the delayed restores, which hold it weakly and do nothing once the inserter is gone.
struct Inserter::State {
    std::array<std::optional<Pending>, 2> pending;
};

Inserter::Inserter(platform::CaretProbe& caret, platform::Clipboard& clipboard, platform::KeySender& keys,
                   platform::FocusedWindow& focus, core::MainQueue& main)
    : caret(caret), clipboard(clipboard), keys(keys), focus(focus), main(main), state(std::make_shared<State>()) {}

Inserter::~Inserter() = default;

bool Inserter::needsLeadingSpace(const std::optional<std::string>& before) {
    if (!before || before->empty()) {
        return false;
    }
    std::int32_t offset = 0;
    UChar32 first = 0;
    U8_NEXT(before->data(), offset, static_cast<std::int32_t>(before->size()), first);
    if (first < 0) {
        return false;
    }
    // A character is whitespace when it starts with a White_Space code point (so CR LF counts too).
    if (u_hasBinaryProperty(first, UCHAR_WHITE_SPACE)) {
        return false;
    }
    return std::find(openers.begin(), openers.end(), std::string_view(*before)) == openers.end();
}

PasteShortcut Inserter::shortcutFor(const std::optional<platform::WindowIdentity>& window) {
    if (!window) {
        return PasteShortcut::controlV;
    }
    for (const auto& name : {lowered(window->instance), lowered(window->className)}) {
        if (mentionsAny(name, controlShiftTerminals)) {
            return PasteShortcut::controlShiftV;
        }
    }
    for (const auto& name : {lowered(window->instance), lowered(window->className)}) {
        if (mentionsAny(name, primaryTerminals)) {
            return PasteShortcut::shiftInsert;
        }
    }
    // A terminal the list does not name, known by its accessible role (VTE terminals, Konsole).
    return window->terminal ? PasteShortcut::controlShiftV : PasteShortcut::controlV;
}

std::string Inserter::oneLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    bool broken = false;
    for (std::size_t at = 0; at < text.size();) {
        if (auto length = lineBreakAt(text, at)) {
            while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
                line.pop_back();
            }
            broken = true;
            at += length;
            continue;
        }
        if (broken && (text[at] == ' ' || text[at] == '\t')) {
            ++at;
            continue;
        }
        if (broken && !line.empty()) {
            line += ' ';
        }
        broken = false;
        line += text[at++];
    }
    return line;
}

void Inserter::insert(const std::string& text, std::function<void(bool pasted)> done) {
    // Asked before anything changes, while the target still shows its own state.
    const auto wanted = shortcutFor(focus.identify());
    const std::string body = wanted == PasteShortcut::controlV ? text : oneLine(text);
    if (body.empty()) {
        return;
    }
    std::string pasted = needsLeadingSpace(caret.characterBeforeCaret()) ? " " + body : body;

    auto shortcut = keys.reachable(wanted);
    std::vector<Selection> selections = {Selection::clipboard};
    if (shortcut == PasteShortcut::shiftInsert) {
        selections.push_back(Selection::primary);
    }

    std::array<ClipboardContents, 2> saved;
    for (auto selection : selections) {
        saved[indexOf(selection)] = saveOriginal(selection);
    }
    std::vector<std::pair<Selection, std::uint64_t>> written;
    for (auto selection : selections) {
        clipboard.writeText(selection, pasted);
        auto generation = clipboard.generation(selection);
        state->pending[indexOf(selection)] = Pending{generation, std::move(saved[indexOf(selection)])};
        written.emplace_back(selection, generation);
    }

    keys.sendPaste(shortcut, [this, weakState = std::weak_ptr<State>(state), written,
                              done = std::move(done)](platform::KeySender::Result result) {
        auto alive = weakState.lock();
        if (!alive) {
            return;
        }
        const bool sent = result != platform::KeySender::Result::failed;
        for (auto [selection, generation] : written) {
            if (sent) {
                scheduleRestore(selection, generation);
            } else if (auto& pending = alive->pending[indexOf(selection)];
                       pending && pending->generation == generation) {
                // Nothing was pasted: the text stays where the user can paste it by hand.
                pending.reset();
            }
        }
        if (done) {
            done(sent);
        }
    });
}

ClipboardContents Inserter::saveOriginal(Selection selection) {
    // A paste whose restore has not run yet left our own text on the selection: what must come back
    // after this paste is what that one saved, or the user's clipboard would be lost to dictated text.
    auto& pending = state->pending[indexOf(selection)];
    if (pending && clipboard.generation(selection) == pending->generation && clipboard.ownsSelection(selection)) {
        return pending->saved;
    }
    return clipboard.save(selection);
}

void Inserter::scheduleRestore(Selection selection, std::uint64_t generation) {
    std::weak_ptr<State> weakState = state;
    auto* board = &clipboard;
    main.postAfter(restoreDelay, [weakState, board, selection, generation] {
        auto alive = weakState.lock();
        if (!alive) {
            return;
        }
        auto& pending = alive->pending[indexOf(selection)];
        // A later paste of ours took over this record; its own restore decides.
        if (!pending || pending->generation != generation) {
            return;
        }
        auto saved = std::move(pending->saved);
        pending.reset();
        // Somebody copied something since, or the program wrote to it again: that stays.
        if (board->generation(selection) != generation || !board->ownsSelection(selection)) {
            return;
        }
        board->restore(selection, saved);
    });
}

} // namespace output
