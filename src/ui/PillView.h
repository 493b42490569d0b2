#pragma once

#include "ui/Overlay.h"

#include <QFont>
#include <QTimer>
#include <QWidget>

#include <array>
#include <optional>
#include <string>

namespace ui {

/// Draws the pill: its dark rounded background, then nine level bars, three pulsing dots or a message,
/// and the optional tag at `tagX`.
class PillView : public QWidget {
public:
    /// Where the tag starts, from the pill's left edge.
    static constexpr double tagX = 86;
    /// The pill's height.
    static constexpr int height = 32;

    explicit PillView(QWidget* parent = nullptr);

    /// The font of every text in the pill: the system font, 12.5 pixels at scale 1, medium weight.
    static const QFont& font();

    const std::optional<std::string>& label() const { return tag; }
    void setLabel(std::optional<std::string> label);

    const Overlay::State& state() const { return shown; }
    /// Changes what is drawn; `listening` starts again from nine silent bars.
    void setState(const Overlay::State& state);

    /// Bar values from oldest to newest, each 0 to 1.
    const std::array<float, 9>& levels() const { return bars; }
    /// Drops the oldest value and appends min(√(level × 6), 1).
    void push(float level);

    /// The pill's width for `state` with `label`: 96 for bars or dots alone, the label's width + 86 + 16
    /// beside them, a message's width + 32.
    static int widthFor(const Overlay::State& state, const std::optional<std::string>& label);

    /// Starts the 1/30-second animation tick unless it runs.
    void startAnimating();
    void stopAnimating();
    bool animating() const { return timer.isActive(); }
    /// The dots' phase in radians; each tick adds 0.12.
    double phase() const { return dotsPhase; }
    void setPhase(double value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void tick();

    std::optional<std::string> tag;
    Overlay::State shown = Overlay::State::listening();
    std::array<float, 9> bars{};
    QTimer timer;
    double dotsPhase = 0;
};

} // namespace ui
