#pragma once

#include "platform/PillSurface.h"
#include "platform/wayland/WaylandConnection.h"

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

struct wl_buffer;
struct wl_compositor;
struct wl_output;
struct wl_shm;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;

namespace platform::wayland {

/// The pill as a layer-shell surface (wlroots compositors, KWin): on the overlay layer, anchored to
/// the bottom edge with `bottomMargin` below it and centred, on the output the compositor chooses
/// (the focused one). It takes no keyboard input and its input region is empty, so it never takes
/// the focus and clicks go through it. The pixels go into shared-memory buffers, two of them, so a
/// new picture can be drawn while the compositor still reads the last one. Main thread.
class LayerShellPill final : public PillSurface {
public:
    /// Connects to the compositor named by WAYLAND_DISPLAY. `main` must outlive the pill.
    explicit LayerShellPill(core::MainQueue& main);
    ~LayerShellPill() override;

    /// True when the compositor offers layer-shell.
    bool usable() const;

    bool show(const Image& image) override;
    void hide() override;
    int scale() const override;

    /// True once the compositor has configured the surface and it holds a picture.
    bool mapped() const { return surface != nullptr && configured && drawn; }

    static constexpr int bottomMargin = 28;

    struct Output;
    struct Buffer;

private:
    void create(int width, int height);
    void destroy();
    void draw();
    Buffer* freeBuffer(int width, int height, int scale);

    static void onConfigure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t width,
                            std::uint32_t height);
    static void onClosed(void* data, zwlr_layer_surface_v1* layer);
    static void onEnter(void* data, wl_surface* surface, wl_output* output);
    static void onLeave(void* data, wl_surface* surface, wl_output* output);
    static void onRelease(void* data, wl_buffer* buffer);

    WaylandConnection connection;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    zwlr_layer_shell_v1* shell = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;
    std::set<wl_output*> entered;

    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    bool configured = false;
    bool drawn = false;
    int requestedWidth = 0;
    int requestedHeight = 0;
    std::array<std::unique_ptr<Buffer>, 2> buffers;

    // The latest picture, drawn as soon as the surface is configured and a buffer is free.
    Image pending;
    std::vector<std::uint32_t> pendingPixels;
    bool dirty = false;
};

} // namespace platform::wayland
