#pragma once

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "platform/Clipboard.h"
#include "platform/wayland/WaylandConnection.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform::wayland {

/// The selections through the compositor's data-control protocol (`ext_data_control_v1`, else
/// `zwlr_data_control_v1`): the clipboard-manager protocol that reads and sets the clipboard and the
/// primary selection without a focused window, which core Wayland requires. The program's own
/// selection answers every request from the bytes it keeps; a source that the compositor cancels has
/// been replaced by someone else's, which is what `ownsSelection` reports.
///
/// Main thread, like every Clipboard. Bytes go out to readers on a writer thread of its own, so a
/// slow reader never holds up the main thread.
class DataControlClipboard final : public Clipboard {
public:
    /// Connects to the compositor named by WAYLAND_DISPLAY. `main` must outlive the clipboard.
    explicit DataControlClipboard(core::MainQueue& main);
    ~DataControlClipboard() override;

    /// True when the compositor offers a data-control protocol and a seat to use it on.
    bool usable() const;
    /// "ext-data-control", "wlr-data-control", or empty when neither is offered.
    std::string protocol() const;

    /// Reads every type the owner offers, all at once. A type that does not arrive complete is left
    /// out: one that outgrows `maximumTypeBytes`, and every type still unfinished once the owner has
    /// sent nothing for `stallSeconds` or `saveSeconds` have passed in all. So a hung owner costs
    /// at most `stallSeconds`.
    ClipboardContents save(Selection selection) override;
    void writeText(Selection selection, const std::string& text) override;
    void restore(Selection selection, const ClipboardContents& contents) override;
    bool ownsSelection(Selection selection) override;
    std::uint64_t generation(Selection selection) const override;

    /// When the program's own windows own the selection (through the toolkit, not this clipboard),
    /// their contents read in-process: the toolkit answers other programs on the main thread, which
    /// waits in save() meanwhile. Nothing when they do not own it. Set by the owner; may stay unset.
    std::function<std::optional<ClipboardContents>(Selection)> localContents;

    static constexpr double stallSeconds = 0.5;
    static constexpr double saveSeconds = 5.0;
    static constexpr std::size_t maximumTypeBytes = std::size_t(64) << 20;

    /// The types offered with dictated text: the UTF-8 text under the names toolkits ask for, then
    /// the marker.
    static ClipboardContents textContents(const std::string& text);

    /// The protocol's interface of the common shape of both variants (declared in the source).
    class Device;

private:
    void set(Selection selection, ClipboardContents contents);

    WaylandConnection connection;
    std::unique_ptr<Device> device;
    std::array<std::uint64_t, 2> writes = {0, 0};
    // Hands the bytes to readers. Declared last: joined first, while the rest is still there.
    core::SerialQueue writer{"ruvex.voice.clipboard"};
};

} // namespace platform::wayland
