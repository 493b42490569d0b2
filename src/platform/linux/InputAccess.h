#pragma once

#include "platform/Trust.h"
#include "platform/linux/InputDevices.h"

#include <functional>
#include <memory>
#include <string>

namespace platform::lnx {

class EvdevKeyMonitor;

/// What the accounts database and this process say about `input`, the group whose members may read
/// the keyboards' event devices.
struct GroupFacts {
    std::string userName;
    /// The user is a member of the group (listed in it, or it is the user's primary group).
    bool userListed = false;
    /// This process runs with the group: false for a member whose session started before joining.
    bool processHas = false;

    /// The facts for the user running this process.
    static GroupFacts current();
};

/// Whether the trigger key can be heard, from what the device nodes and the groups say: ready when a
/// keyboard with the trigger keys opens; else denied or relogin when some node refused to open
/// (relogin when the user is in the group but this process is not); else no devices. With a
/// device named in `source`, only that one is tried.
KeyAccess checkKeyboardAccess(InputDevices& devices, const InputSource& source, const GroupFacts& groups);

/// The command that lets this user read keyboards: "sudo usermod -aG input NAME".
std::string joinCommand(const GroupFacts& groups);

/// Whether the program may create a virtual keyboard.
enum class UinputAccess { writable, denied, missing };
UinputAccess checkUinput(InputDevices& devices, const std::string& path = "/dev/uinput");

/// The trust of a desktop whose keys come from the event devices (every Wayland desktop): ready when
/// the trigger key can be heard. Nothing can be asked for at run time; the first-run window words
/// the state and the command that fixes it. Construct with the paste mechanism's state (for example
/// `[] { return PasteAccess::askFirst; }` for the RemoteDesktop portal) and the running monitor,
/// whose open keyboards answer without touching the devices; tests inject the rest.
class EvdevTrust final : public Trust {
public:
    EvdevTrust(std::function<PasteAccess()> paste, const EvdevKeyMonitor* monitor,
               InputSource source = InputSource::fromEnvironment(),
               std::shared_ptr<InputDevices> devices = std::make_shared<SystemInputDevices>(),
               std::function<GroupFacts()> groups = &GroupFacts::current);

    bool isTrusted() override;
    bool ask() override { return isTrusted(); }
    Access access() override;

private:
    std::function<PasteAccess()> paste;
    const EvdevKeyMonitor* monitor;
    InputSource source;
    std::shared_ptr<InputDevices> devices;
    std::function<GroupFacts()> groups;
};

} // namespace platform::lnx
