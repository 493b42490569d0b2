#include "platform/wayland/WaylandKeySender.h"

#include "platform/linux/PasteStrokes.h"

namespace platform::wayland {

WaylandKeySender::WaylandKeySender(core::MainQueue& main, HeldModifiers held) : main(main), held(std::move(held)) {}

void WaylandKeySender::sendPaste(PasteShortcut shortcut, std::function<void(Result)> done) {
    if (!usable()) {
        main.post([done = std::move(done)] { done(Result::failed); });
        return;
    }
    auto events = lnx::pasteStrokes(shortcut);
    waitForModifiers(main, held, modifierWaitSeconds, std::weak_ptr<char>(alive),
                     [this, events = std::move(events), done = std::move(done)](bool stillHeld) mutable {
                         step(std::move(events), 0, stillHeld, std::move(done));
                     });
}

void WaylandKeySender::step(std::vector<std::pair<unsigned, bool>> events, std::size_t next, bool stillHeld,
                            std::function<void(Result)> done) {
    if (next == events.size()) {
        done(settle() ? (stillHeld ? Result::sentWithModifier : Result::sent) : Result::failed);
        return;
    }
    if (!key(events[next].first, events[next].second)) {
        // Let go of what was pressed, so that no key stays down on the compositor's side.
        for (std::size_t i = next + 1; i < events.size(); ++i) {
            if (!events[i].second) {
                key(events[i].first, false);
            }
        }
        done(Result::failed);
        return;
    }
    main.postAfter(keyGap, [this, weak = std::weak_ptr<char>(alive), events = std::move(events), next, stillHeld,
                            done = std::move(done)]() mutable {
        if (!weak.expired()) {
            step(std::move(events), next + 1, stillHeld, std::move(done));
        }
    });
}

} // namespace platform::wayland
