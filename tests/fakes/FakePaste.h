#pragma once

#include "core/MainQueue.h"
#include "platform/CaretProbe.h"
#include "platform/Clipboard.h"
#include "platform/FocusedWindow.h"
#include "platform/KeySender.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fakes {

/// Every platform call the paste makes, in order, as short lines ("save clipboard", "send controlV").
using CallLog = std::vector<std::string>;

class FakeCaretProbe : public platform::CaretProbe {
public:
    explicit FakeCaretProbe(CallLog& log) : log(log) {}
    std::optional<std::string> characterBeforeCaret() override {
        log.push_back("caret");
        return before;
    }
    std::optional<std::string> before;

private:
    CallLog& log;
};

/// Two selections held in memory. `foreignWrite` plays another program taking the selection.
class FakeClipboard : public platform::Clipboard {
    using Selection = platform::Selection;

public:
    explicit FakeClipboard(CallLog& log) : log(log) {}

    platform::ClipboardContents save(Selection selection) override {
        log.push_back("save " + name(selection));
        return of(selection).contents;
    }
    void writeText(Selection selection, const std::string& text) override {
        log.push_back("write " + name(selection) + " " + text);
        take(selection, {{"text/plain", text}, {secretHintType, "secret"}});
    }
    void restore(Selection selection, const platform::ClipboardContents& contents) override {
        log.push_back("restore " + name(selection));
        take(selection, contents);
    }
    bool ownsSelection(Selection selection) override { return of(selection).owned; }
    std::uint64_t generation(Selection selection) const override {
        return (selection == Selection::clipboard ? clipboard : primary).writes;
    }

    void foreignWrite(Selection selection, platform::ClipboardContents contents) {
        of(selection) = {std::move(contents), false, of(selection).writes};
    }
    const platform::ClipboardContents& contents(Selection selection) { return of(selection).contents; }

private:
    struct Board {
        platform::ClipboardContents contents;
        bool owned = false;
        std::uint64_t writes = 0;
    };
    static std::string name(Selection selection) { return selection == Selection::clipboard ? "clipboard" : "primary"; }
    Board& of(Selection selection) { return selection == Selection::clipboard ? clipboard : primary; }
    void take(Selection selection, platform::ClipboardContents contents) {
        of(selection) = {std::move(contents), true, of(selection).writes + 1};
    }

    CallLog& log;
    Board clipboard;
    Board primary;
};

/// Records each shortcut and answers with `result` through `main`, as a real sender does.
class FakeKeySender : public platform::KeySender {
public:
    FakeKeySender(CallLog& log, core::MainQueue& main) : log(log), main(main) {}
    void sendPaste(platform::PasteShortcut shortcut, std::function<void(Result)> done) override {
        static const char* names[] = {"controlV", "controlShiftV", "shiftInsert"};
        log.push_back(std::string("send ") + names[static_cast<int>(shortcut)]);
        main.post([done = std::move(done), answer = result] { done(answer); });
    }
    Result result = Result::sent;

private:
    CallLog& log;
    core::MainQueue& main;
};

class FakeFocusedWindow : public platform::FocusedWindow {
public:
    std::optional<platform::WindowIdentity> identify() override { return window; }
    std::optional<platform::WindowIdentity> window;
};

/// A main queue whose work runs only when the test says so, with the delays it was asked for.
class ManualMainQueue : public core::MainQueue {
public:
    void post(std::function<void()> work) override { postAfter(0.0, std::move(work)); }
    void postAfter(double seconds, std::function<void()> work) override {
        delayed.emplace_back(seconds, std::move(work));
    }
    /// Runs what is queued now; work it queues waits for the next call.
    void runOnce() {
        for (auto& [seconds, work] : std::exchange(delayed, {})) {
            work();
        }
    }
    /// Runs until nothing is left.
    void runAll() {
        while (!delayed.empty())
            runOnce();
    }
    std::vector<std::pair<double, std::function<void()>>> delayed;
};

} // namespace fakes
