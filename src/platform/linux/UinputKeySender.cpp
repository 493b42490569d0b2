#include "platform/linux/UinputKeySender.h"

#include "platform/linux/ModifierWait.h"
#include "platform/linux/PasteStrokes.h"

#include <linux/input.h>
#include <linux/uinput.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform::lnx {

namespace {

constexpr unsigned short declaredKeys[] = {KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_V, KEY_INSERT};

void sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

} // namespace

UinputKeySender::UinputKeySender(core::MainQueue& main, std::function<int()> heldModifiers,
                                 std::shared_ptr<InputDevices> devices, std::string path,
                                 std::function<void(double)> pause)
    : main(main), heldModifiers(std::move(heldModifiers)), devices(std::move(devices)), path(std::move(path)),
      pause(pause ? std::move(pause) : sleepFor) {
    // Made now, so the compositor has long added it when the first paste comes.
    worker.post([this] { ensureDevice(); });
}

UinputKeySender::~UinputKeySender() {
    worker.post([this] { destroyDevice(); });
}

void UinputKeySender::sendPaste(PasteShortcut shortcut, std::function<void(Result)> done) {
    worker.post([this, shortcut, done = std::move(done)]() mutable {
        const Result result = send(shortcut);
        main.post([done = std::move(done), result] { done(result); });
    });
}

KeySender::Result UinputKeySender::send(PasteShortcut shortcut) {
    const bool held = waitForModifiers(heldModifiers, pause);
    if (!ensureDevice())
        return Result::failed;
    if (!press(shortcut)) {
        // The device stopped taking events (removed under us): make a new one next time.
        destroyDevice();
        return Result::failed;
    }
    return held ? Result::sentWithModifier : Result::sent;
}

bool UinputKeySender::ensureDevice() {
    if (fd >= 0)
        return true;
    const int opened = devices->open(path, O_WRONLY | O_NONBLOCK);
    if (opened < 0)
        return false;
    bool ok = devices->controlValue(opened, UI_SET_EVBIT, EV_KEY) >= 0;
    for (unsigned short key : declaredKeys)
        ok = ok && devices->controlValue(opened, UI_SET_KEYBIT, key) >= 0;
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x5256; // "RV"
    setup.id.product = 0x0001;
    setup.id.version = 1;
    std::strncpy(setup.name, ownKeyboardName, UINPUT_MAX_NAME_SIZE - 1);
    ok = ok && devices->control(opened, UI_DEV_SETUP, &setup) >= 0;
    ok = ok && devices->control(opened, UI_DEV_CREATE, nullptr) >= 0;
    if (!ok) {
        close(opened);
        return false;
    }
    fd = opened;
    // The compositor must have added the new keyboard before its first key, or that key is lost.
    pause(settleSeconds);
    return true;
}

bool UinputKeySender::emit(unsigned short type, unsigned short code, int value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    ssize_t written;
    do {
        written = write(fd, &event, sizeof event);
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(sizeof event);
}

bool UinputKeySender::press(PasteShortcut shortcut) {
    const auto strokes = pasteStrokes(shortcut);
    // Each key in a report of its own, with a gap: events sent back to back arrive as a bare "v" on
    // some compositors.
    for (std::size_t i = 0; i < strokes.size(); ++i) {
        if (i > 0)
            pause(gapSeconds);
        if (!emit(EV_KEY, static_cast<unsigned short>(strokes[i].first), strokes[i].second ? 1 : 0) ||
            !emit(EV_SYN, SYN_REPORT, 0))
            return false;
    }
    return true;
}

void UinputKeySender::destroyDevice() {
    if (fd < 0)
        return;
    devices->control(fd, UI_DEV_DESTROY, nullptr);
    close(fd);
    fd = -1;
}

} // namespace platform::lnx
