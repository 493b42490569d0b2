#pragma once

#include "fakes/FakeAudioSource.h"
#include "fakes/FakeKeyMonitor.h"
#include "fakes/FakePaste.h"
#include "fakes/MemorySecretStore.h"
#include "platform/Desktop.h"

#include <memory>

namespace fakes {

/// A trust the test grants or withdraws.
class FakeTrust : public platform::Trust {
public:
    bool isTrusted() override { return granted; }
    bool ask() override {
        ++asked;
        return granted;
    }
    bool granted = true;
    int asked = 0;
};

/// A platform::Desktop made of fakes, with the test's handles on each of them. The microphone hands
/// out FakeAudioSources whose blocks the test delivers through `microphones`.
struct FakeDesktop {
    explicit FakeDesktop(core::MainQueue& main) {
        auto monitor = std::make_unique<FakeKeyMonitor>();
        auto keySender = std::make_unique<FakeKeySender>(log, main);
        auto board = std::make_unique<FakeClipboard>(log);
        auto focusedWindow = std::make_unique<FakeFocusedWindow>();
        auto caretProbe = std::make_unique<FakeCaretProbe>(log);
        auto grant = std::make_unique<FakeTrust>();
        keys = monitor.get();
        sender = keySender.get();
        clipboard = board.get();
        focus = focusedWindow.get();
        caret = caretProbe.get();
        trust = grant.get();
        desktop.description = "fakes";
        desktop.keyMonitor = std::move(monitor);
        desktop.keySender = std::move(keySender);
        desktop.clipboard = std::move(board);
        desktop.focusedWindow = std::move(focusedWindow);
        desktop.caretProbe = std::move(caretProbe);
        desktop.trust = std::move(grant);
        desktop.secretStore = secrets;
        desktop.microphone = [this] {
            auto source = std::make_unique<FakeAudioSource>();
            source->startResult = microphoneWorks;
            microphones.push_back(source.get());
            return source;
        };
        desktop.microphoneState = [] { return platform::MicrophoneState::available; };
    }

    /// Hands the desktop over (to the code under test); the handles stay valid while it lives.
    platform::Desktop take() { return std::move(desktop); }

    CallLog log;
    FakeKeyMonitor* keys = nullptr;
    FakeKeySender* sender = nullptr;
    FakeClipboard* clipboard = nullptr;
    FakeFocusedWindow* focus = nullptr;
    FakeCaretProbe* caret = nullptr;
    FakeTrust* trust = nullptr;
    std::shared_ptr<MemorySecretStore> secrets = std::make_shared<MemorySecretStore>();
    bool microphoneWorks = true;
    /// Every microphone handed out, oldest first (owned by whoever took them).
    std::vector<FakeAudioSource*> microphones;

private:
    platform::Desktop desktop;
};

} // namespace fakes
