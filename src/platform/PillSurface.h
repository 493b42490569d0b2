#pragma once

#include <cstdint>

namespace platform {

/// Where the pill's pixels go on a desktop that has no window type for it (a Wayland layer surface):
/// the pill is drawn by the user interface and handed over as an image, which the surface shows above
/// every window at the bottom centre of the output the compositor chooses, without taking the
/// keyboard focus and letting every click through. Main thread.
class PillSurface {
public:
    PillSurface() = default;
    PillSurface(const PillSurface&) = delete;
    PillSurface& operator=(const PillSurface&) = delete;
    virtual ~PillSurface() = default;

    /// A picture of `width` × `height` logical pixels drawn at `scale` device pixels per logical one:
    /// (width × scale) × (height × scale) premultiplied ARGB values in native byte order, row after row.
    struct Image {
        int width = 0;
        int height = 0;
        int scale = 1;
        const std::uint32_t* pixels = nullptr;
    };

    /// Shows `image` (copied), or replaces what is shown. False when nothing can be shown here.
    virtual bool show(const Image& image) = 0;
    /// Takes the pill off the screen.
    virtual void hide() = 0;
    /// The device pixels per logical pixel the pill should be drawn at (the output's scale).
    virtual int scale() const = 0;
};

} // namespace platform
