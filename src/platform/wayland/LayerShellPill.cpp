#include "platform/wayland/LayerShellPill.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstring>

// The generated C header names an argument "namespace"; everything it includes is included above.
#define namespace surface_namespace
#include "wlr-layer-shell-unstable-v1-client.h"
#undef namespace

namespace platform::wayland {

struct LayerShellPill::Output {
    LayerShellPill* pill;
    wl_output* proxy;
    int scale = 1;
};

// One shared-memory picture the compositor may be reading until it releases it.
struct LayerShellPill::Buffer {
    LayerShellPill* pill;
    wl_buffer* proxy = nullptr;
    void* memory = MAP_FAILED;
    std::size_t size = 0;
    int width = 0; // device pixels
    int height = 0;
    bool busy = false;

    ~Buffer() {
        if (proxy != nullptr) {
            wl_buffer_destroy(proxy);
        }
        if (memory != MAP_FAILED) {
            munmap(memory, size);
        }
    }
};

namespace {

void outputGeometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                    const char*, const char*, std::int32_t) {}
void outputMode(void*, wl_output*, std::uint32_t, std::int32_t, std::int32_t, std::int32_t) {}
void outputDone(void*, wl_output*) {}
void outputScale(void* data, wl_output*, std::int32_t factor) {
    static_cast<LayerShellPill::Output*>(data)->scale = std::max(1, factor);
}
void outputText(void*, wl_output*, const char*) {}
const wl_output_listener outputListener = {outputGeometry, outputMode, outputDone, outputScale, outputText, outputText};

} // namespace

LayerShellPill::LayerShellPill(core::MainQueue& main) : connection(main) {
    compositor = static_cast<wl_compositor*>(connection.bind(&wl_compositor_interface, 4));
    shm = static_cast<wl_shm*>(connection.bind(&wl_shm_interface, 1));
    shell = static_cast<zwlr_layer_shell_v1*>(connection.bind(&zwlr_layer_shell_v1_interface, 4));
    if (!usable()) {
        return;
    }
    // Every output, for the scale of the one the pill lands on (version 2 tells the scale).
    for (const auto& global : connection.globals()) {
        if (global.interface == wl_output_interface.name && global.version >= 2) {
            auto output = std::make_unique<Output>(Output{this, nullptr});
            output->proxy = static_cast<wl_output*>(connection.bind(global, &wl_output_interface, 2));
            wl_output_add_listener(output->proxy, &outputListener, output.get());
            outputs.push_back(std::move(output));
        }
    }
    connection.roundtrip();
}

LayerShellPill::~LayerShellPill() {
    destroy();
    for (auto& output : outputs) {
        wl_output_destroy(output->proxy);
    }
    if (shell != nullptr) {
        zwlr_layer_shell_v1_destroy(shell);
    }
    if (shm != nullptr) {
        wl_shm_destroy(shm);
    }
    if (compositor != nullptr) {
        wl_compositor_destroy(compositor);
    }
    connection.flush();
}

bool LayerShellPill::usable() const {
    return compositor != nullptr && shm != nullptr && shell != nullptr && static_cast<bool>(connection);
}

int LayerShellPill::scale() const {
    int largest = 1;
    for (const auto& output : outputs) {
        if (entered.count(output->proxy) != 0) {
            largest = std::max(largest, output->scale);
        }
    }
    return largest;
}

bool LayerShellPill::show(const Image& image) {
    if (!usable() || image.width <= 0 || image.height <= 0 || image.scale <= 0 || image.pixels == nullptr) {
        return false;
    }
    const std::size_t count =
        static_cast<std::size_t>(image.width) * image.scale * static_cast<std::size_t>(image.height) * image.scale;
    pendingPixels.assign(image.pixels, image.pixels + count);
    pending = image;
    pending.pixels = pendingPixels.data();
    dirty = true;
    if (surface == nullptr) {
        create(image.width, image.height);
    } else if (image.width != requestedWidth || image.height != requestedHeight) {
        // A new size takes effect with the compositor's next configure; the picture waits for it.
        requestedWidth = image.width;
        requestedHeight = image.height;
        configured = false;
        zwlr_layer_surface_v1_set_size(layer, static_cast<std::uint32_t>(image.width),
                                       static_cast<std::uint32_t>(image.height));
        wl_surface_commit(surface);
    } else {
        draw();
    }
    return connection.flush();
}

void LayerShellPill::hide() {
    destroy();
    connection.flush();
}

void LayerShellPill::create(int width, int height) {
    static const wl_surface_listener surfaceListener = {onEnter, onLeave};
    static const zwlr_layer_surface_v1_listener layerListener = {onConfigure, onClosed};

    surface = wl_compositor_create_surface(compositor);
    wl_surface_add_listener(surface, &surfaceListener, this);
    // No output named: the compositor puts the pill on the one the user works on.
    layer = zwlr_layer_shell_v1_get_layer_surface(shell, surface, nullptr, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
                                                  "ruvex-voice-pill");
    zwlr_layer_surface_v1_add_listener(layer, &layerListener, this);
    requestedWidth = width;
    requestedHeight = height;
    zwlr_layer_surface_v1_set_size(layer, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    // Anchored to the bottom edge only: centred horizontally. The exclusive zone stays 0, so panels
    // that reserve the bottom edge push the pill above them, as the visible frame of a screen would.
    zwlr_layer_surface_v1_set_anchor(layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM);
    zwlr_layer_surface_v1_set_margin(layer, 0, 0, bottomMargin, 0);
    zwlr_layer_surface_v1_set_keyboard_interactivity(layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
    wl_region* nothing = wl_compositor_create_region(compositor);
    wl_surface_set_input_region(surface, nothing);
    wl_region_destroy(nothing);
    configured = false;
    drawn = false;
    // The first commit carries no picture: the compositor answers it with a configure.
    wl_surface_commit(surface);
}

void LayerShellPill::destroy() {
    if (layer != nullptr) {
        zwlr_layer_surface_v1_destroy(layer);
        layer = nullptr;
    }
    if (surface != nullptr) {
        wl_surface_destroy(surface);
        surface = nullptr;
    }
    entered.clear();
    configured = false;
    drawn = false;
    dirty = false;
}

LayerShellPill::Buffer* LayerShellPill::freeBuffer(int width, int height, int scale) {
    const int pixelsWide = width * scale;
    const int pixelsHigh = height * scale;
    for (auto& buffer : buffers) {
        if (buffer && !buffer->busy && buffer->width == pixelsWide && buffer->height == pixelsHigh) {
            return buffer.get();
        }
    }
    // Replace a free buffer of another size, or fill an empty slot.
    for (auto& buffer : buffers) {
        if (buffer && buffer->busy) {
            continue;
        }
        auto made = std::make_unique<Buffer>(Buffer{this});
        made->width = pixelsWide;
        made->height = pixelsHigh;
        made->size = static_cast<std::size_t>(pixelsWide) * 4 * static_cast<std::size_t>(pixelsHigh);
        int fd = memfd_create("ruvex-pill", MFD_CLOEXEC);
        if (fd < 0) {
            return nullptr;
        }
        if (ftruncate(fd, static_cast<off_t>(made->size)) == 0) {
            made->memory = mmap(nullptr, made->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        }
        if (made->memory == MAP_FAILED) {
            close(fd);
            return nullptr;
        }
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(made->size));
        made->proxy =
            wl_shm_pool_create_buffer(pool, 0, pixelsWide, pixelsHigh, pixelsWide * 4, WL_SHM_FORMAT_ARGB8888);
        wl_shm_pool_destroy(pool);
        close(fd);
        static const wl_buffer_listener bufferListener = {onRelease};
        wl_buffer_add_listener(made->proxy, &bufferListener, made.get());
        buffer = std::move(made);
        return buffer.get();
    }
    return nullptr; // both are on the screen; the release of one draws the picture
}

void LayerShellPill::draw() {
    if (!dirty || surface == nullptr || !configured) {
        return;
    }
    Buffer* buffer = freeBuffer(pending.width, pending.height, pending.scale);
    if (buffer == nullptr) {
        return;
    }
    std::memcpy(buffer->memory, pending.pixels, buffer->size);
    buffer->busy = true;
    wl_surface_set_buffer_scale(surface, pending.scale);
    wl_surface_attach(surface, buffer->proxy, 0, 0);
    wl_surface_damage(surface, 0, 0, pending.width, pending.height);
    wl_surface_commit(surface);
    dirty = false;
    drawn = true;
}

void LayerShellPill::onConfigure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t,
                                 std::uint32_t) {
    auto* pill = static_cast<LayerShellPill*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    pill->configured = true;
    // A configure of an unchanged size may come with no picture waiting: the surface needs one anyway.
    if (!pill->drawn) {
        pill->dirty = true;
    }
    pill->draw();
    pill->connection.flush();
}

void LayerShellPill::onClosed(void* data, zwlr_layer_surface_v1*) {
    // The compositor took the surface away (its output went): the next show makes a new one.
    static_cast<LayerShellPill*>(data)->destroy();
}

void LayerShellPill::onEnter(void* data, wl_surface*, wl_output* output) {
    static_cast<LayerShellPill*>(data)->entered.insert(output);
}

void LayerShellPill::onLeave(void* data, wl_surface*, wl_output* output) {
    static_cast<LayerShellPill*>(data)->entered.erase(output);
}

void LayerShellPill::onRelease(void* data, wl_buffer*) {
    auto* buffer = static_cast<Buffer*>(data);
    buffer->busy = false;
    // A picture that found both buffers on the screen goes out now.
    buffer->pill->draw();
    buffer->pill->connection.flush();
}

} // namespace platform::wayland
