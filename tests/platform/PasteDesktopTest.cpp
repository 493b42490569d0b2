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

#include <fstream>
#include <map>

namespace {

using desktop::GatedQueue;
using desktop::Program;
using desktop::TextTarget;
using output::Inserter;
using platform::Selection;
using testing::Contains;
using testing::Not;

// Targets whose values describe the selection rather than hold data (TIMESTAMP differs each time).
bool isDataTarget(const std::string& target) {
    return target != "TARGETS" && target != "MULTIPLE" && target != "TIMESTAMP" && target != "SAVE_TARGETS";
}

std::map<std::string, std::string> selectionContents(const std::string& selection = "clipboard") {
    std::map<std::string, std::string> contents;
    for (const auto& target : desktop::selectionTargets(selection)) {
        if (isDataTarget(target)) {
            contents[target] = desktop::selectionTarget(target, selection).value_or("<refused>");
        }
    }
    return contents;
}

// Another program owning a selection with plain text, as after the user copied in it.
std::unique_ptr<Program> foreignText(const std::string& text, const std::string& selection = "clipboard") {
    // xclip itself, not through a shell, so that killing it at the end of the test ends it.
    auto owner = std::make_unique<Program>(
        "xclip", QStringList{"-quiet", "-selection", QString::fromStdString(selection), "-i"});
    owner->finishInput(text);
    desktop::pumpUntil([&] { return desktop::selectionTarget("UTF8_STRING", selection) == text; });
    return owner;
}

class PasteOnTheDesktop : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = desktop::missingDisplay()) {
            GTEST_SKIP() << *missing;
        }
        caret.before = std::nullopt;
    }

    // Pastes `text` through a fresh inserter on `queue` and returns it (the inserter must live until
    // its restore ran).
    std::unique_ptr<output::Inserter> paste(const std::string& text, core::MainQueue& queue) {
        auto inserter = std::make_unique<output::Inserter>(caret, clipboard, keys, focus, queue);
        inserter->insert(text);
        return inserter;
    }

    fakes::CallLog log;
    fakes::FakeCaretProbe caret{log};
    platform::qt::QtClipboard clipboard;
    platform::x11::XTestKeySender keys;
    platform::x11::X11FocusedWindow focus;
    GatedQueue gated;
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
    auto inserter = paste("Привет, мир", main);
    EXPECT_EQ(target.waitForText("Привет, мир"), "Привет, мир");
    EXPECT_TRUE(desktop::pumpUntil([] { return desktop::selectionTarget("UTF8_STRING") == "до диктовки"; }));
}

TEST_F(PasteOnTheDesktop, EveryFormatComesBackByteForByteWithTheSameTargets) {
    Program owner(desktop::fixture("fixture_clipboard_owner"), {}, {"QT_QPA_PLATFORM=xcb"});
    ASSERT_TRUE(owner.waitForLine([](const std::string& line) { return line == "ready"; }));
    auto targets = desktop::selectionTargets();
    auto before = selectionContents();
    ASSERT_THAT(targets, Contains("image/png"));
    ASSERT_EQ(before["application/x-ruvex-bytes"].size(), 256u);
    for (int value = 0; value < 256; ++value) {
        ASSERT_EQ(static_cast<unsigned char>(before["application/x-ruvex-bytes"][value]), value);
    }
    ASSERT_EQ(before["image/png"].substr(0, 4), "\x89PNG");
    ASSERT_EQ(before["text/html"], "<b>Буфер</b> пользователя");
    ASSERT_EQ(before["UTF8_STRING"], "Буфер пользователя");

    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    auto inserter = paste("вставка", gated);
    EXPECT_EQ(target.waitForText("вставка"), "вставка");

    // During the paste window the dictated text carries the marker for clipboard managers.
    EXPECT_THAT(desktop::selectionTargets(), Contains("x-kde-passwordManagerHint"));
    EXPECT_EQ(desktop::selectionTarget("x-kde-passwordManagerHint"), "secret");
    EXPECT_EQ(desktop::selectionTarget("UTF8_STRING"), "вставка");

    EXPECT_EQ(gated.release(), std::vector<double>{0.6});
    EXPECT_EQ(selectionContents(), before);
    EXPECT_EQ(desktop::selectionTargets(), targets);
}

TEST_F(PasteOnTheDesktop, SomebodyElseCopyingDuringThePasteWindowKeepsTheirContents) {
    auto owner = foreignText("старое");
    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    auto inserter = paste("диктовка", gated);
    EXPECT_EQ(target.waitForText("диктовка"), "диктовка");

    auto copier = foreignText("скопировано");
    ASSERT_TRUE(desktop::pumpUntil([&] { return !clipboard.ownsSelection(Selection::clipboard); }));
    gated.release();
    desktop::pumpFor(0.2);
    EXPECT_EQ(desktop::selectionTarget("UTF8_STRING"), "скопировано");
}

TEST_F(PasteOnTheDesktop, TwoPastesWithinThePasteWindowStillGiveTheUserClipboardBack) {
    auto owner = foreignText("пользовательское");
    TextTarget target;
    output::Inserter inserter(caret, clipboard, keys, focus, gated);
    inserter.insert("раз");
    EXPECT_EQ(target.waitForText("раз"), "раз");
    inserter.insert("два");
    EXPECT_EQ(target.waitForText("раздва"), "раздва");
    EXPECT_EQ(gated.release(), (std::vector<double>{0.6, 0.6}));
    EXPECT_EQ(desktop::selectionTarget("UTF8_STRING"), "пользовательское");
    EXPECT_THAT(desktop::selectionTargets(), Not(Contains("x-kde-passwordManagerHint")));
}

TEST_F(PasteOnTheDesktop, AnEmptyClipboardIsEmptyAgainAfterThePaste) {
    // Take the clipboard from whoever has it, then leave it without an owner.
    QGuiApplication::clipboard()->setText("x");
    QGuiApplication::clipboard()->clear();
    ASSERT_TRUE(desktop::pumpUntil([] { return desktop::selectionTargets().empty(); }));

    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    auto inserter = paste("пусто", gated);
    EXPECT_EQ(target.waitForText("пусто"), "пусто");
    gated.release();
    EXPECT_TRUE(desktop::pumpUntil([] { return desktop::selectionTargets().empty(); }));
    EXPECT_EQ(desktop::selectionTarget("UTF8_STRING"), std::nullopt);
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
    ASSERT_TRUE(focus.identify().has_value());
    EXPECT_EQ(focus.identify()->className, "XTerm");
    EXPECT_EQ(focus.identify()->processId, xterm.pid());

    auto inserter = paste("echo терминал", gated);
    // xterm fetches the selection after the key press, and an Enter that comes first ends an empty
    // line, which the shell skips: press Enter until a line arrives.
    ASSERT_TRUE(desktop::pumpUntil([&] {
        desktop::runTool("xdotool", {"key", "Return"});
        desktop::pumpFor(0.2);
        return xterm.finished();
    }));
    EXPECT_EQ(testsupport::readFile(typed.toStdString()), "echo терминал");

    gated.release();
    EXPECT_EQ(desktop::selectionTarget("UTF8_STRING"), "в буфере");
    EXPECT_EQ(desktop::selectionTarget("UTF8_STRING", "primary"), "выделено");
}

TEST_F(PasteOnTheDesktop, PastesWhileACyrillicLayoutIsActive) {
    desktop::KeyboardLayout russian("ru,us");
    ASSERT_EQ(desktop::KeyboardLayout::current(), "ru,us");
    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    // The layout really is active: a letter key types Cyrillic.
    desktop::runTool("xdotool", {"key", "--clearmodifiers", "55"});
    EXPECT_EQ(target.waitForText("м"), "м");

    auto inserter = paste("раскладка", gated);
    EXPECT_EQ(target.waitForText("мраскладка"), "мраскладка");
    gated.release();
}

TEST_F(PasteOnTheDesktop, TheKeySenderWaitsForHeldModifiersAndSaysWhenTheyStayDown) {
    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    QGuiApplication::clipboard()->setText("a");
    EXPECT_EQ(keys.sendPaste(platform::PasteShortcut::controlV), platform::KeySender::Result::sent);
    EXPECT_EQ(target.waitForText("a"), "a");

    desktop::runTool("xdotool", {"keydown", "64"}); // left Alt, by keycode
    auto result = keys.sendPaste(platform::PasteShortcut::controlV);
    desktop::runTool("xdotool", {"keyup", "64"});
    EXPECT_EQ(result, platform::KeySender::Result::sentWithModifier);
}

TEST_F(PasteOnTheDesktop, EachShortcutReachesTheWindowAsItsKeyWithItsModifiers) {
    TextTarget target;
    using platform::PasteShortcut;
    const std::pair<PasteShortcut, std::string> sent[] = {
        {PasteShortcut::controlV, "key 55 C"},
        {PasteShortcut::controlShiftV, "key 55 CS"},
        {PasteShortcut::shiftInsert, "key 118 S"},
    };
    for (const auto& [shortcut, expected] : sent) {
        EXPECT_EQ(keys.sendPaste(shortcut), platform::KeySender::Result::sent);
        EXPECT_EQ(target.program().waitForLine([&](const std::string& line) { return line == expected; }), expected);
    }
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
    })) << "xterm ended: "
        << xterm.finished() << ", windows: " << on({"xdotool", "search", "--classname", "xterm"}).out;
    QString toplevel = QString::fromStdString(windows.substr(0, windows.find('\n')));
    // Focus a window inside the xterm, which has no WM_CLASS of its own: the search walks up.
    auto tree = on({"xwininfo", "-children", "-id", toplevel}).out;
    static const QRegularExpression child("^\\s+(0x[0-9a-f]+) ", QRegularExpression::MultilineOption);
    auto inner = child.match(QString::fromStdString(tree));
    ASSERT_TRUE(inner.hasMatch()) << tree;
    // Focus can only go to a viewable window; the map may still be on its way.
    ASSERT_TRUE(desktop::pumpUntil([&] { return on({"xdotool", "windowfocus", inner.captured(1)}).exitCode == 0; }));

    std::string previous = std::getenv("DISPLAY");
    setenv("DISPLAY", display.toStdString().c_str(), 1);
    platform::x11::X11FocusedWindow bare;
    setenv("DISPLAY", previous.c_str(), 1);
    auto window = bare.identify();
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(window->instance, "xterm");
    EXPECT_EQ(window->className, "XTerm");
    EXPECT_EQ(Inserter::shortcutFor(window), platform::PasteShortcut::shiftInsert);
}

} // namespace
