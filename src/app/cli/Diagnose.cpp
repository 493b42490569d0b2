#include "app/cli/Diagnose.h"

#include "app/Backend.h"
#include "core/RunLoop.h"
#include "platform/linux/EvdevKeyMonitor.h"
#include "platform/linux/InputAccess.h"
#include "platform/linux/LibsecretStore.h"
#include "platform/linux/PortalKeySender.h"
#include "platform/linux/PulseAudioSource.h"
#include "platform/wayland/DataControlClipboard.h"
#include "platform/wayland/FakeInputKeySender.h"
#include "platform/wayland/LayerShellPill.h"
#include "platform/wayland/VirtualKeyboardKeySender.h"
#include "platform/x11/XInputKeyMonitor.h"
#include "speech/Model.h"
#include "text/AiService.h"
#include "text/Keychain.h"

#include <ostream>
#include <string>

namespace app::cli::Diagnose {

namespace {

struct Line {
    std::string text;
    bool fine;
};

std::string microphoneText(platform::MicrophoneState state) {
    switch (state) {
    case platform::MicrophoneState::available:
        return "есть";
    case platform::MicrophoneState::noServer:
        return "звуковой сервер не отвечает";
    case platform::MicrophoneState::noSource:
        return "в звуковом сервере нет устройства записи";
    case platform::MicrophoneState::monitor:
        return "по умолчанию выбран не микрофон, а отражение выхода";
    case platform::MicrophoneState::muted:
        return "выключен";
    }
    return "?";
}

// The trigger key on a Wayland desktop: where it is read, how many keyboards, whether they may be
// read. Never a key.
Line evdevKeys(core::RunLoop& main) {
    namespace lnx = platform::lnx;
    const auto source = lnx::InputSource::fromEnvironment();
    lnx::EvdevKeyMonitor monitor(main, source);
    monitor.start();
    const int keyboards = monitor.deviceCount();
    monitor.stop();
    const platform::Access access = lnx::EvdevTrust({}, nullptr, source).access();
    std::string text = "evdev (" +
                       (source.device ? *source.device + ", из RUVEX_VOICE_INPUT_DEVICE" : source.directory) +
                       "), клавиатур: " + std::to_string(keyboards) + ", ";
    switch (access.keys) {
    case platform::KeyAccess::ready:
        text += "читаются";
        break;
    case platform::KeyAccess::denied:
        text += "нет доступа: выполните " + access.joinCommand + " и войдите в сеанс заново";
        break;
    case platform::KeyAccess::relogin:
        text += "нет доступа: вы уже в группе input, войдите в сеанс заново";
        break;
    case platform::KeyAccess::noDevices:
        text += "клавиатура не видна системе";
        break;
    }
    return {text, access.keys == platform::KeyAccess::ready};
}

// The paste keys on a Wayland desktop, through the mechanism chosen.
Line waylandPaste(const std::string& chosen, core::RunLoop& main) {
    bool sends = false;
    if (chosen == Backend::virtualKeyboard)
        sends = platform::wayland::VirtualKeyboardKeySender(main, {}).usable();
    else if (chosen == Backend::fakeInput)
        sends = platform::wayland::FakeInputKeySender(main, {}).usable();
    else if (chosen == Backend::uinput)
        return {"uinput (/dev/uinput открыт для записи)", true};
    else if (const unsigned version = platform::lnx::PortalKeySender::portalVersion())
        return {chosen + " (версия " + std::to_string(version) + "): разрешение спросят при первой вставке", true};
    else
        return {"нечем: /dev/uinput закрыт, портала RemoteDesktop нет (текст останется в буфере обмена)", false};
    return {sends ? chosen : "композитор не даёт посылать клавиши", sends};
}

// The desktop parts: each mechanism the backend chose, set up for real where that costs nothing.
void desktopLines(const Backend& backend, core::RunLoop& main, Line& keys, Line& paste, Line& clipboard, Line& pill) {
    const auto& chosen = backend.mechanisms;
    const std::string unchecked = "не проверить без графического сеанса";
    switch (backend.kind) {
    case Backend::Kind::none:
        keys = paste = clipboard = pill = {unchecked, false};
        pill.fine = true;
        return;
    case Backend::Kind::x11: {
        platform::x11::XInputKeyMonitor monitor(main);
        const bool watching = monitor.start();
        monitor.stop();
        keys = {watching ? chosen.keys : "X-сервер не даёт следить за клавишами (нет XInput 2.2)", watching};
        paste = {chosen.paste, true};
        clipboard = {chosen.clipboard, true};
        pill = {chosen.pill, true};
        return;
    }
    case Backend::Kind::waylandHybrid:
        keys = evdevKeys(main);
        paste = waylandPaste(chosen.paste, main);
        clipboard = {chosen.clipboard, true};
        pill = {chosen.pill, true};
        return;
    case Backend::Kind::waylandNative: {
        keys = evdevKeys(main);
        paste = waylandPaste(chosen.paste, main);
        platform::wayland::DataControlClipboard board(main);
        clipboard = {board.usable() ? board.protocol() : "композитор не даёт буфер обмена фоновой программе",
                     board.usable()};
        const bool shows = platform::wayland::LayerShellPill(main).usable();
        pill = {shows ? chosen.pill : "не показать", true};
        return;
    }
    }
}

} // namespace

int run(std::ostream& out) {
    const Backend backend = Backend::probe();
    core::RunLoop main;

    std::string session;
    switch (backend.kind) {
    case Backend::Kind::none:
        session = "нет графического сеанса (ни WAYLAND_DISPLAY, ни DISPLAY не отвечают)";
        break;
    case Backend::Kind::x11:
        session = "X11";
        break;
    case Backend::Kind::waylandNative:
        session = "Wayland, " +
                  (backend.compositor.empty() ? std::string("композитор неизвестен") : backend.compositor) +
                  "; свой режим (Qt на wayland)";
        break;
    case Backend::Kind::waylandHybrid:
        session = "Wayland, " +
                  (backend.compositor.empty() ? std::string("композитор неизвестен") : backend.compositor) +
                  "; через XWayland (Qt на xcb)";
        break;
    }
    Line keys, paste, clipboard, pill;
    desktopLines(backend, main, keys, paste, clipboard, pill);

    const auto microphoneState = platform::lnx::PulseAudioSource::microphoneState();
    const Line microphone = {microphoneText(microphoneState), microphoneState == platform::MicrophoneState::available};

    auto model = speech::makeModel(main);
    const bool modelReady = model->isReady();
    const Line speechModel = {modelReady ? "на месте (" + model->directory().string() + ")"
                                         : "не скачана (ruvex-voice --download-model)",
                              modelReady};

    // The AI step is optional: neither line decides whether dictation can work.
    const text::AiService service = text::AiService::saved(core::Defaults::standard());
    std::string aiService = service.description();
    if (service.refusal())
        aiService += ": адрес не подходит (по http только сервер на этом компьютере)";
    else if (service.onThisMachine())
        aiService += " (на этом компьютере)";
    text::Keychain keychain(platform::lnx::makeSecretStore());
    std::string aiKey = "сохранён";
    if (!keychain.aiKey())
        aiKey = service.onThisMachine() ? "не сохранён (серверу на этом компьютере не нужен)"
                                        : "не сохранён (нужен только стилям ИИ)";

    const bool works = backend.kind != Backend::Kind::none && keys.fine && paste.fine && clipboard.fine &&
                       microphone.fine && speechModel.fine;
    out << "Сеанс: " << session << '\n'
        << "Клавиша: " << keys.text << '\n'
        << "Вставка: " << paste.text << '\n'
        << "Буфер обмена: " << clipboard.text << '\n'
        << "Пилюля: " << pill.text << '\n'
        << "Микрофон: " << microphone.text << '\n'
        << "Модель речи: " << speechModel.text << '\n'
        << "Сервис ИИ: " << aiService << '\n'
        << "Ключ ИИ: " << aiKey << '\n'
        << (works ? "Итог: диктовка может работать\n" : "Итог: диктовка работать не будет\n");
    return works ? 0 : 1;
}

} // namespace app::cli::Diagnose
