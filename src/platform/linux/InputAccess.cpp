#include "platform/linux/InputAccess.h"

#include "platform/linux/EvdevKeyMonitor.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace platform::lnx {

namespace {

constexpr const char* inputGroup = "input";

bool refused(int error) {
    return error == -EACCES || error == -EPERM;
}

} // namespace

GroupFacts GroupFacts::current() {
    GroupFacts facts;
    std::vector<char> buffer(16384);
    passwd account{};
    passwd* found = nullptr;
    gid_t primary = static_cast<gid_t>(-1);
    if (getpwuid_r(getuid(), &account, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        facts.userName = account.pw_name;
        primary = account.pw_gid;
    }
    group entry{};
    group* groupFound = nullptr;
    std::vector<char> groupBuffer(65536);
    if (getgrnam_r(inputGroup, &entry, groupBuffer.data(), groupBuffer.size(), &groupFound) != 0 ||
        groupFound == nullptr)
        return facts;
    const gid_t gid = entry.gr_gid;
    facts.userListed = primary == gid;
    for (char** member = entry.gr_mem; member != nullptr && *member != nullptr; ++member)
        facts.userListed = facts.userListed || facts.userName == *member;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> own(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0 && getgroups(count, own.data()) >= 0)
        facts.processHas = std::find(own.begin(), own.end(), gid) != own.end();
    facts.processHas = facts.processHas || getegid() == gid;
    return facts;
}

KeyAccess checkKeyboardAccess(InputDevices& devices, const InputSource& source, const GroupFacts& groups) {
    std::vector<std::string> paths;
    if (source.device) {
        paths.push_back(*source.device);
    } else if (auto names = devices.list(source.directory)) {
        for (const std::string& name : *names) {
            if (name.rfind("event", 0) == 0)
                paths.push_back(source.directory + "/" + name);
        }
    }
    bool denied = false;
    for (const std::string& path : paths) {
        const int fd = devices.open(path, O_RDONLY | O_NONBLOCK);
        if (fd < 0) {
            denied = denied || refused(fd);
            continue;
        }
        const bool keyboard = source.device || isTriggerKeyboard(devices, fd);
        close(fd);
        if (keyboard)
            return KeyAccess::ready;
    }
    if (!denied)
        return KeyAccess::noDevices;
    return groups.userListed && !groups.processHas ? KeyAccess::relogin : KeyAccess::denied;
}

std::string joinCommand(const GroupFacts& groups) {
    return std::string("sudo usermod -aG ") + inputGroup + " " + (groups.userName.empty() ? "$USER" : groups.userName);
}

UinputAccess checkUinput(InputDevices& devices, const std::string& path) {
    const int fd = devices.open(path, O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
        close(fd);
        return UinputAccess::writable;
    }
    return refused(fd) ? UinputAccess::denied : UinputAccess::missing;
}

EvdevTrust::EvdevTrust(std::function<PasteAccess()> paste, const EvdevKeyMonitor* monitor, InputSource source,
                       std::shared_ptr<InputDevices> devices, std::function<GroupFacts()> groups)
    : paste(std::move(paste)), monitor(monitor), source(std::move(source)), devices(std::move(devices)),
      groups(std::move(groups)) {}

bool EvdevTrust::isTrusted() {
    return access().keys == KeyAccess::ready;
}

Access EvdevTrust::access() {
    Access state;
    state.paste = paste ? paste() : PasteAccess::ready;
    // A keyboard the running monitor reads settles it without opening every device again.
    if (monitor != nullptr && monitor->deviceCount() > 0)
        return state;
    const GroupFacts facts = groups ? groups() : GroupFacts{};
    state.keys = checkKeyboardAccess(*devices, source, facts);
    if (state.keys == KeyAccess::denied)
        state.joinCommand = joinCommand(facts);
    return state;
}

} // namespace platform::lnx
