// Paste, clipboard save and restore, terminals and keyboard layouts against the real X server,
// real Qt and GTK programs and xterm. The leading space is left to the accessibility tests: the
// caret probe here never answers, as with an application that exposes no text.
#include "output/Inserter.h"
#include "platform/qt/QtClipboard.h"
#include "platform/qt/QtMainQueue.h"
#include "platform/x11/X11FocusedWindow.h"
#include "platform/x11/XTestKeySender.h"

#include "DesktopSupport.h"
#include "fakes/FakePaste.h"
#include "support/TempDir.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QRegularExpression>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace {

using desktop::Program;
using desktop::TextTarget;
using output::Inserter;
using platform::PasteShortcut;
using platform::Selection;
using testing::Contains;
using testing::Not;

// The data of every target, leaving out those that describe the selection (TIMESTAMP differs each time).
std::map<std::string, std::string> selectionContents() {
    std::map<std::string, std::string> contents;
    for (const auto& target : desktop::selectionTargets()) {
        if (target != "TARGETS" && target != "MULTIPLE" && target != "TIMESTAMP" && target != "SAVE_TARGETS") {
            contents[target] = desktop::selectionTarget(target).value_or("<refused>");
        }
    }
    return contents;
}

// Another program owning a selection with plain text, as after the user copied in it.
std::unique_ptr<Program> foreignText(const std::string& text, const std::string& selection = "clipboard") {
    // xclip itself, not through a shell, so that killing it at the end of the test ends it.
    auto owner = std::make_unique<Program>(
        "xclip", QStringList{"-quiet", "-selection", QString::fromStdString(selection), "-i"});
    owner->write(text, true);
    desktop::pumpUntil([&] { return desktop::selectionTarget("UTF8_STRING", selection) == text; });
    return owner;
}

class PasteOnTheDesktop : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = desktop::missingDisplay()) {
            GTEST_SKIP() << *missing;
        }
    }

    fakes::CallLog log;
    fakes::FakeCaretProbe caret{log};
    platform::qt::QtClipboard clipboard;
    platform::x11::XTestKeySender keys;
    platform::x11::X11FocusedWindow focus;
    // Holds the restores back until the test runs them, to look at the clipboard during the paste
    // window however slow the machine is.
    fakes::ManualMainQueue held;
    Inserter inserter{caret, clipboard, keys, focus, held};
};

TEST_F(PasteOnTheDesktop, TextArrivesAndTheClipboardComesBackOnItsOwn) {
    auto owner = foreignText("до диктовки");
    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    auto window = focus.identify();
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(window->instance, "fixture_text_target");
    EXPECT_EQ(window->processId, target.program().pid());

    // The restore is the real 0.6 s timer of the main queue here.
    platform::qt::QtMainQueue main;
    Inserter timed(caret, clipboard, keys, focus, main);
    timed.insert("Привет, мир");
    EXPECT_EQ(target.waitForText("Привет, мир"), "Привет, мир");
    EXPECT_TRUE(desktop::pumpUntil([] { return desktop::selectionTarget("UTF8_STRING") == "до диктовки"; }));
}

TEST_F(PasteOnTheDesktop, EveryFormatComesBackByteForByteWithTheSameTargets) {
    Program owner(desktop::fixture("fixture_clipboard_owner"), {}, {"QT_QPA_PLATFORM=xcb"});
    ASSERT_TRUE(owner.waitForLine([](const std::string& line) { return line == "ready"; }));
    auto targets = desktop::selectionTargets();
    auto before = selectionContents();
    std::string bytes(256, '\0');
    for (int value = 0; value < 256; ++value) {
        bytes[value] = static_cast<char>(value);
    }
    ASSERT_EQ(before["application/x-ruvex-bytes"], bytes);
    ASSERT_EQ(before["image/png"].substr(0, 4), "\x89PNG");
    ASSERT_EQ(before["text/html"], "<b>Буфер</b> пользователя");
    ASSERT_EQ(before["UTF8_STRING"], "Буфер пользователя");

    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    inserter.insert("вставка");
    EXPECT_EQ(target.waitForText("вставка"), "вставка");
    // During the paste window the dictated text carries the marker for clipboard managers.
    EXPECT_EQ(desktop::selectionTarget("x-kde-passwordManagerHint"), "secret");
    EXPECT_EQ(desktop::selectionTarget("UTF8_STRING"), "вставка");

    held.runAll();
    EXPECT_EQ(selectionContents(), before);
    EXPECT_EQ(desktop::selectionTargets(), targets);
}

TEST_F(PasteOnTheDesktop, TwoPastesGiveTheUserClipboardBackAndACopyInThePasteWindowStays) {
    auto owner = foreignText("пользовательское");
    TextTarget target;
    inserter.insert("раз");
    EXPECT_EQ(target.waitForText("раз"), "раз");
    inserter.insert("два");
    EXPECT_EQ(target.waitForText("раздва"), "раздва");
    EXPECT_EQ(held.delayed.size(), 2u);
    held.runAll();
    EXPECT_EQ(desktop::selectionTarget("UTF8_STRING"), "пользовательское");
    EXPECT_THAT(desktop::selectionTargets(), Not(Contains("x-kde-passwordManagerHint")));

    inserter.insert("три");
    EXPECT_EQ(target.waitForText("раздватри"), "раздватри");
    auto copier = foreignText("скопировано");
    ASSERT_TRUE(desktop::pumpUntil([&] { return !clipboard.ownsSelection(Selection::clipboard); }));
    held.runAll();
    desktop::pumpFor(0.2);
    EXPECT_EQ(desktop::selectionTarget("UTF8_STRING"), "скопировано");
}

TEST_F(PasteOnTheDesktop, AnEmptyClipboardIsEmptyAgainAfterThePaste) {
    // Take the clipboard from whoever has it, then leave it without an owner.
    QGuiApplication::clipboard()->setText("x");
    QGuiApplication::clipboard()->clear();
    ASSERT_TRUE(desktop::pumpUntil([] { return desktop::selectionTargets().empty(); }));

    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    inserter.insert("пусто");
    EXPECT_EQ(target.waitForText("пусто"), "пусто");
    held.runAll();
    EXPECT_TRUE(desktop::pumpUntil([] { return desktop::selectionTargets().empty(); }));
}

TEST_F(PasteOnTheDesktop, XtermGetsThePrimarySelectionAndShiftInsertAndBothComeBack) {
    auto clipboardOwner = foreignText("в буфере");
    auto primaryOwner = foreignText("выделено", "primary");
    testsupport::TempDir dir;
    QString typed = QString::fromStdString((dir / "typed").string());
    Program xterm("xterm",
                  {"-u8", "-e", "sh", "-c",
                   QString("while read line && [ -z \"$line\" ]; do :; done; printf %s \"$line\" > '%1'").arg(typed)},
                  {"LC_ALL=C.UTF-8"});
    ASSERT_TRUE(desktop::waitForFocus("xterm"));
    inserter.insert("echo терминал");
    // xterm fetches the selection after the key press, and an Enter that comes first ends an empty
    // line, which the shell skips: press Enter until a line arrives.
    ASSERT_TRUE(desktop::pumpUntil([&] {
        desktop::runTool("xdotool", {"key", "Return"});
        desktop::pumpFor(0.2);
        return xterm.finished();
    }));
    EXPECT_EQ(testsupport::readFile(typed.toStdString()), "echo терминал");

    held.runAll();
    EXPECT_EQ(desktop::selectionTarget("UTF8_STRING"), "в буфере");
    EXPECT_EQ(desktop::selectionTarget("UTF8_STRING", "primary"), "выделено");
}

TEST_F(PasteOnTheDesktop, PastesWhileACyrillicLayoutIsActive) {
    desktop::setKeyboardLayout("ru,us");
    struct Back {
        ~Back() { desktop::setKeyboardLayout("us"); }
    } back;
    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    // The layout really is active: a letter key types Cyrillic.
    desktop::runTool("xdotool", {"key", "--clearmodifiers", "55"});
    EXPECT_EQ(target.waitForText("м"), "м");

    inserter.insert("раскладка");
    EXPECT_EQ(target.waitForText("мраскладка"), "мраскладка");
    held.runAll();
}

TEST_F(PasteOnTheDesktop, EachShortcutReachesTheWindowAsItsKeysAndAHeldModifierIsReported) {
    TextTarget target;
    const std::pair<PasteShortcut, std::string> sent[] = {
        {PasteShortcut::controlV, "key 55 C"},
        {PasteShortcut::controlShiftV, "key 55 CS"},
        {PasteShortcut::shiftInsert, "key 118 S"},
    };
    for (const auto& [shortcut, expected] : sent) {
        EXPECT_EQ(keys.sendPaste(shortcut), platform::KeySender::Result::sent);
        EXPECT_EQ(target.program().waitForLine([&](const std::string& line) { return line == expected; }), expected);
    }
    desktop::runTool("xdotool", {"keydown", "64"}); // left Alt, by keycode
    auto result = keys.sendPaste(PasteShortcut::controlV);
    desktop::runTool("xdotool", {"keyup", "64"});
    EXPECT_EQ(result, platform::KeySender::Result::sentWithModifier);
}

TEST_F(PasteOnTheDesktop, WithoutAWindowManagerTheFocusedWindowIsFoundFromTheInputFocus) {
    // A display of its own, with no window manager to set _NET_ACTIVE_WINDOW.
    Program server("Xvfb", {"-displayfd", "1", "-noreset", "-nolisten", "tcp", "-screen", "0", "640x480x24"});
    auto number = server.waitForLine([](const std::string& line) { return !line.empty(); });
    ASSERT_TRUE(number.has_value());
    QString display = ":" + QString::fromStdString(*number);
    auto on = [&](QStringList command) { return desktop::runTool("env", QStringList{"DISPLAY=" + display} + command); };
    ASSERT_TRUE(desktop::pumpUntil([&] { return on({"xdpyinfo"}).exitCode == 0; }));
    Program xterm("xterm", {}, {"DISPLAY=" + display});
    std::string windows;
    ASSERT_TRUE(desktop::pumpUntil([&] {
        windows = on({"xdotool", "search", "--onlyvisible", "--classname", "^xterm$"}).out;
        return !windows.empty();
    }));
    // Focus a window inside the xterm, which has no WM_CLASS of its own: the search walks up. Focus can
    // only go to a viewable window, and the map may still be on its way.
    auto tree = on({"xwininfo", "-children", "-id", QString::fromStdString(windows.substr(0, windows.find('\n')))}).out;
    static const QRegularExpression child("^\\s+(0x[0-9a-f]+) ", QRegularExpression::MultilineOption);
    auto inner = child.match(QString::fromStdString(tree));
    ASSERT_TRUE(inner.hasMatch()) << tree;
    ASSERT_TRUE(desktop::pumpUntil([&] { return on({"xdotool", "windowfocus", inner.captured(1)}).exitCode == 0; }));

    std::string previous = std::getenv("DISPLAY");
    setenv("DISPLAY", display.toStdString().c_str(), 1);
    platform::x11::X11FocusedWindow bare;
    setenv("DISPLAY", previous.c_str(), 1);
    auto window = bare.identify();
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(window->instance, "xterm");
    EXPECT_EQ(window->className, "XTerm");
    EXPECT_EQ(Inserter::shortcutFor(window), PasteShortcut::shiftInsert);
}

} // namespace
