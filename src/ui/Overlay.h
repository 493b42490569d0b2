#pragma once

#include <QImage>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

namespace platform {
class PillSurface;
}

namespace ui {

class PillView;

/// The small floating pill near the bottom of the screen: a level meter while the trigger key is held,
/// three pulsing dots while the text is prepared, and short messages that hide themselves. It never takes
/// focus and lets every click through. Main thread only; one instance for the program's life.
class Overlay {
public:
    /// What the pill shows.
    struct State {
        enum class Kind { message, listening, thinking };
        Kind kind = Kind::listening;
        std::string text; ///< only for `message`

        static State message(std::string text) { return {Kind::message, std::move(text)}; }
        static State listening() { return {Kind::listening, {}}; }
        static State thinking() { return {Kind::thinking, {}}; }
        bool operator==(const State&) const = default;
    };

    Overlay();
    ~Overlay();
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;

    /// Shows the pill in `state` at the bottom centre of the screen under the mouse, cancelling a pending
    /// automatic hide.
    void show(const State& state);
    /// Shows `text` as a message and hides the pill `seconds` later, unless something is shown or hidden
    /// before then.
    void flash(const std::string& text, double seconds = 2.4);
    /// Hides the pill at once and cancels a pending automatic hide.
    void hide();
    /// Pushes one meter value (any non-negative level; the pill scales and clamps it).
    void level(float value);

    /// The short tag drawn beside the bars or dots (the active preset's), or none.
    void setTag(std::optional<std::string> tag);
    std::optional<std::string> tag() const;

    /// Whether translucent pixels show as such on this desktop (a compositing manager runs); without
    /// one the pill's corners are cut with a mask instead. Unset: always.
    std::function<bool()> translucency;

    /// Shows the pill through `surface` (a Wayland layer surface) instead of its own window, from now
    /// on; null goes back to the window. The surface must outlive the overlay or be unset first.
    /// There the pill is drawn into an image at every animation tick and handed over when it changed.
    void useSurface(platform::PillSurface* surface);

    /// The floating top-level window, for tests and the controller's own checks.
    QWidget* panel() const { return window.get(); }
    PillView* pill() const { return view; }
    /// True while a flash's automatic hide is waiting.
    bool hidePending() const { return hideWork.isActive(); }

private:
    /// Draws the pill at its current size and hands it to the surface when it differs from the last.
    void present();

    std::unique_ptr<QWidget> window;
    PillView* view = nullptr; // owned by `window`
    QTimer hideWork;
    platform::PillSurface* surface = nullptr;
    QTimer frames;
    QImage presented;
};

} // namespace ui
