#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::lnx {

/// The name of the program's own virtual keyboard (the uinput paste device); the key monitor never
/// reads a device of this name, so the program's paste keys never reach its own hotkey.
inline constexpr const char* ownKeyboardName = "Ruvex Voice paste keys";

/// The kernel's input interface as the evdev monitor, the access check and the uinput sender use it:
/// listing /dev/input, opening nodes, their ioctls and the hot-plug watch. Injectable, so that
/// discovery, permissions and the exact ioctls are tested without /dev/input (tests hand out pipes).
/// The descriptors it returns are real ones: they are read, written, polled and closed directly.
/// Callable from any thread.
class InputDevices {
public:
    InputDevices() = default;
    virtual ~InputDevices() = default;
    InputDevices(const InputDevices&) = delete;
    InputDevices& operator=(const InputDevices&) = delete;

    /// The names of the entries in `directory`; nullopt when it cannot be listed (missing, refused).
    virtual std::optional<std::vector<std::string>> list(const std::string& directory) = 0;
    /// open(2) with `flags` (O_CLOEXEC is added): a descriptor, or minus the errno.
    virtual int open(const std::string& path, int flags) = 0;
    /// ioctl(2) on a descriptor from open(): its non-negative result, or minus the errno.
    virtual int control(int fd, unsigned long request, void* argument) = 0;
    /// An inotify descriptor (non-blocking) that becomes readable when entries of `directory` are
    /// created, deleted or change their permissions; minus the errno.
    virtual int watch(const std::string& directory) = 0;
    /// True when `path` names a FIFO (a test feed rather than a device).
    virtual bool isFifo(const std::string& path) = 0;

    /// control() for the requests whose argument is a plain number (UI_SET_KEYBIT and the like).
    int controlValue(int fd, unsigned long request, unsigned long value) {
        return control(fd, request, reinterpret_cast<void*>(value));
    }
};

/// The real kernel interface.
class SystemInputDevices final : public InputDevices {
public:
    std::optional<std::vector<std::string>> list(const std::string& directory) override;
    int open(const std::string& path, int flags) override;
    int control(int fd, unsigned long request, void* argument) override;
    int watch(const std::string& directory) override;
    bool isFifo(const std::string& path) override;
};

/// True when the event device open at `fd` is a keyboard worth reading: it has the right Alt or the
/// right Super key and the letter keys, and it is not the program's own virtual keyboard.
bool isTriggerKeyboard(InputDevices& devices, int fd);

/// Where the key monitor finds keyboards: every event node of `directory`, or only `device` when set.
struct InputSource {
    std::string directory = "/dev/input";
    /// RUVEX_VOICE_INPUT_DEVICE: one device (or a FIFO of input_event records) read instead of scanning.
    std::optional<std::string> device;

    /// The default directory, and the device named by RUVEX_VOICE_INPUT_DEVICE when it is set.
    static InputSource fromEnvironment();
};

} // namespace platform::lnx
