#pragma once

#include "core/MainQueue.h"
#include "platform/KeyMonitor.h"
#include "platform/linux/InputDevices.h"

#include <atomic>
#include <memory>

namespace platform::lnx {

/// Watches the keyboards through the kernel's event devices, whatever the display server: every
/// /dev/input/event* node with the right Alt or right Super key (and letters) is read without
/// grabbing it, so every application still gets its keys. Needs read access to the nodes (the
/// `input` group). Follows hot-plug (an inotify watch, the directory scanned again about 150 ms
/// after a change, so udev can set the node's permissions first); after SYN_DROPPED it reads the
/// keys really held; a keyboard that vanishes while the trigger is held ends the hold exactly once.
/// The program's own virtual keyboard is never read.
///
/// One thread of its own reads the devices. Only the two trigger keys leave that thread with their
/// code; every other key reaches `onKey` as keycode 0 (see EvdevDecoder). Events reach `onKey`
/// through the main queue.
///
/// Construct with `EvdevKeyMonitor(main)` for the real devices (honouring RUVEX_VOICE_INPUT_DEVICE);
/// tests pass their own source and device layer.
class EvdevKeyMonitor final : public KeyMonitor {
public:
    /// `main` and `devices` must outlive the monitor.
    explicit EvdevKeyMonitor(core::MainQueue& main, InputSource source = InputSource::fromEnvironment(),
                             std::shared_ptr<InputDevices> devices = std::make_shared<SystemInputDevices>());
    ~EvdevKeyMonitor() override;

    /// Opens the keyboards there are now (keys pressed after it returns are seen) and starts the
    /// reader, which also picks up keyboards plugged in later. True even with none yet: whether any
    /// can be read is the trust's to tell. False only when the reader could not be started.
    bool start() override;
    void stop() override;

    /// How many modifier keys are held on the keyboards being read (never which); 0 when stopped.
    /// For the key senders' wait before a paste. Any thread.
    int heldModifiers() const { return modifiers.load(std::memory_order_relaxed); }
    /// How many keyboards are being read; 0 when stopped. Any thread.
    int deviceCount() const { return devicesOpen.load(std::memory_order_relaxed); }

    /// Seconds between a change in the device directory and the scan that follows it.
    static constexpr double rescanDelay = 0.15;

private:
    class Reader;

    core::MainQueue& main;
    InputSource source;
    std::shared_ptr<InputDevices> devices;
    std::unique_ptr<Reader> reader;
    // Written by the reader thread, read by any.
    std::atomic<int> modifiers{0};
    std::atomic<int> devicesOpen{0};
    // Renewed at each start and released at stop: events posted by an earlier run find it expired.
    // Created, released and checked on the main thread only.
    std::shared_ptr<int> run;
};

} // namespace platform::lnx
