#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

/// The two shared selections of the desktop: the clipboard proper and the primary selection
/// (the last selected text, which some terminals paste).
enum class Selection { clipboard, primary };

/// One format of a selection's contents: its type (a MIME type or another target name) and its bytes.
struct ClipboardFormat {
    std::string type;
    std::string data;

    bool operator==(const ClipboardFormat&) const = default;
};

/// A copy of everything a selection offered, in the order it offered it. Empty: nothing was there.
using ClipboardContents = std::vector<ClipboardFormat>;

/// The desktop's shared selections. Every operation runs on the main thread.
class Clipboard {
public:
    Clipboard() = default;
    Clipboard(const Clipboard&) = delete;
    Clipboard& operator=(const Clipboard&) = delete;
    virtual ~Clipboard() = default;

    /// Copies every real data format the selection offers now. Protocol bookkeeping targets are left
    /// out, so that writing the copy back offers the same formats as before.
    virtual ClipboardContents save(Selection selection) = 0;

    /// Makes the program the selection's owner, offering `text` and the marker that asks clipboard
    /// managers and history tools not to keep it (`secretHintType` = "secret").
    virtual void writeText(Selection selection, const std::string& text) = 0;

    /// Offers `contents` again as the selection; empty contents leave the selection empty.
    virtual void restore(Selection selection, const ClipboardContents& contents) = 0;

    /// True while the selection still holds the program's own last write: nobody else took it since.
    virtual bool ownsSelection(Selection selection) = 0;

    /// Counts the program's own writes to the selection (writeText and restore). Whoever wrote
    /// something and wants to undo it later compares this number to tell whether a later write of
    /// the program has replaced it.
    virtual std::uint64_t generation(Selection selection) const = 0;

    /// The marker target added to dictated text, with "secret" as its value.
    static constexpr const char* secretHintType = "x-kde-passwordManagerHint";
};

} // namespace platform
