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

/// Answers with a preset character and notes that it was asked.
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
public:
    explicit FakeClipboard(CallLog& log) : log(log) {}

    platform::ClipboardContents save(platform::Selection selection) override {
        log.push_back("save " + name(selection));
        return of(selection).contents;
    }
    void writeText(platform::Selection selection, const std::string& text) override {
        log.push_back("write " + name(selection) + " " + text);
        take(selection, {{"text/plain", text}, {secretHintType, "secret"}});
    }
    void restore(platform::Selection selection, const platform::ClipboardContents& contents) override {
        log.push_back("restore " + name(selection));
        take(selection, contents);
    }
    bool ownsSelection(platform::Selection selection) override { return of(selection).owned; }
    std::uint64_t generation(platform::Selection selection) const override {
        return selection == platform::Selection::clipboard ? clipboard.writes : primary.writes;
    }

    void foreignWrite(platform::Selection selection, platform::ClipboardContents contents) {
        of(selection).contents = std::move(contents);
        of(selection).owned = false;
    }
    const platform::ClipboardContents& contents(platform::Selection selection) { return of(selection).contents; }

    static std::string name(platform::Selection selection) {
        return selection == platform::Selection::clipboard ? "clipboard" : "primary";
    }

private:
    struct Board {
        platform::ClipboardContents contents;
        bool owned = false;
        std::uint64_t writes = 0;
    };
    Board& of(platform::Selection selection) {
        return selection == platform::Selection::clipboard ? clipboard : primary;
    }
    void take(platform::Selection selection, platform::ClipboardContents contents) {
        auto& board = of(selection);
        board.contents = std::move(contents);
        board.owned = true;
        ++board.writes;
    }

    CallLog& log;
    Board clipboard;
    Board primary;
};

/// Records the shortcuts it was asked to send.
class FakeKeySender : public platform::KeySender {
public:
    explicit FakeKeySender(CallLog& log) : log(log) {}
    Result sendPaste(platform::PasteShortcut shortcut) override {
        static const char* names[] = {"controlV", "controlShiftV", "shiftInsert"};
        log.push_back(std::string("send ") + names[static_cast<int>(shortcut)]);
        return result;
    }
    Result result = Result::sent;

private:
    CallLog& log;
};

/// Reports a preset window.
class FakeFocusedWindow : public platform::FocusedWindow {
public:
    std::optional<platform::WindowIdentity> identify() override { return window; }
    std::optional<platform::WindowIdentity> window;
};

/// A main queue whose work runs only when the test says so, with the delays it was asked for.
class ManualMainQueue : public core::MainQueue {
public:
    void post(std::function<void()> work) override { delayed.emplace_back(0.0, std::move(work)); }
    void postAfter(double seconds, std::function<void()> work) override {
        delayed.emplace_back(seconds, std::move(work));
    }
    /// Runs everything posted so far, in order.
    void runAll() {
        auto due = std::move(delayed);
        delayed.clear();
        for (auto& [seconds, work] : due) {
            work();
        }
    }
    std::vector<std::pair<double, std::function<void()>>> delayed;
};

} // namespace fakes
