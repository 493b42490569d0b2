#include "output/Inserter.h"

#include "fakes/FakePaste.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using fakes::CallLog;
using platform::ClipboardContents;
using platform::PasteShortcut;
using platform::Selection;
using platform::WindowIdentity;
using testing::ElementsAre;

const ClipboardContents userContents = {{"text/plain", "из буфера"}, {"text/html", "<b>из буфера</b>"}};

struct Desk {
    CallLog log;
    fakes::FakeCaretProbe caret{log};
    fakes::FakeClipboard clipboard{log};
    fakes::FakeKeySender keys{log};
    fakes::FakeFocusedWindow focus;
    fakes::ManualMainQueue main;
    output::Inserter inserter{caret, clipboard, keys, focus, main};

    Desk() { clipboard.foreignWrite(Selection::clipboard, userContents); }
};

TEST(Inserter, LeadingSpaceDependsOnlyOnTheCharacterBeforeTheInsertionPoint) {
    using output::Inserter;
    // No answer, or the very start of the text.
    EXPECT_FALSE(Inserter::needsLeadingSpace(std::nullopt));
    EXPECT_FALSE(Inserter::needsLeadingSpace(""));
    // Letters, digits and closing punctuation run into the text without a space.
    for (const char* before : {"a", "я", "Ё", "7", ".", ",", "!", ")", "»", "\u201C", "😀", "👍🏽", "e\u0301"}) {
        EXPECT_TRUE(Inserter::needsLeadingSpace(before)) << before;
    }
    // Whitespace of every kind, including the no-break and ideographic spaces and CR LF.
    for (const char* before : {" ", "\t", "\n", "\r\n", "\u00A0", "\u2028", "\u2029", "\u3000", "\u202F", "\v"}) {
        EXPECT_FALSE(Inserter::needsLeadingSpace(before)) << before;
    }
    // The eight openers.
    for (const char* before : {"(", "[", "{", "\u00AB", "\u201E", "\"", "'", "/"}) {
        EXPECT_FALSE(Inserter::needsLeadingSpace(before)) << before;
    }
    // Compared as whole characters: an opener with a combining mark is another character.
    EXPECT_TRUE(Inserter::needsLeadingSpace("(\u0301"));
}

TEST(Inserter, PastesTheTextWithASpaceOnlyWhereItWouldRunIntoAWord) {
    Desk desk;
    desk.caret.before = ".";
    desk.inserter.insert("Привет");
    EXPECT_THAT(desk.log, ElementsAre("caret", "save clipboard", "write clipboard  Привет", "send controlV"));
    EXPECT_EQ(desk.clipboard.contents(Selection::clipboard),
              (ClipboardContents{{"text/plain", " Привет"}, {"x-kde-passwordManagerHint", "secret"}}));

    Desk quoted;
    quoted.caret.before = "\u00AB";
    quoted.inserter.insert("привет");
    EXPECT_EQ(quoted.log.at(2), "write clipboard привет");

    Desk unanswered;
    unanswered.caret.before = std::nullopt;
    unanswered.inserter.insert("привет");
    EXPECT_EQ(unanswered.log.at(2), "write clipboard привет");
}

TEST(Inserter, TerminalsGetTheShortcutTheyPasteWith) {
    using output::Inserter;
    auto shortcut = [](std::string instance, std::string className) {
        return Inserter::shortcutFor(WindowIdentity{std::move(instance), std::move(className), std::nullopt});
    };
    EXPECT_EQ(Inserter::shortcutFor(std::nullopt), PasteShortcut::controlV);
    EXPECT_EQ(shortcut("zenity", "Zenity"), PasteShortcut::controlV);
    EXPECT_EQ(shortcut("fixture", "QtLineEdit"), PasteShortcut::controlV);
    EXPECT_EQ(shortcut("code", "Code"), PasteShortcut::controlV);
    EXPECT_EQ(shortcut("gnome-terminal-server", "Gnome-terminal"), PasteShortcut::controlShiftV);
    EXPECT_EQ(shortcut("konsole", "konsole"), PasteShortcut::controlShiftV);
    EXPECT_EQ(shortcut("Alacritty", "Alacritty"), PasteShortcut::controlShiftV);
    EXPECT_EQ(shortcut("kgx", "Kgx"), PasteShortcut::controlShiftV);
    EXPECT_EQ(shortcut("org.gnome.Console", "Org.gnome.Console"), PasteShortcut::controlShiftV);
    EXPECT_EQ(shortcut("st-256color", "st-256color"), PasteShortcut::controlShiftV);
    // "lxterminal" holds "xterm", but it binds Ctrl+Shift+V.
    EXPECT_EQ(shortcut("lxterminal", "Lxterminal"), PasteShortcut::controlShiftV);
    EXPECT_EQ(shortcut("", "com.raggesilver.BlackBox"), PasteShortcut::controlV);
    EXPECT_EQ(shortcut("xterm", "XTerm"), PasteShortcut::shiftInsert);
    EXPECT_EQ(shortcut("urxvt", "URxvt"), PasteShortcut::shiftInsert);
}

TEST(Inserter, PutsTheUserClipboardBackAfterTheDelayWhenItIsStillOurs) {
    Desk desk;
    desk.caret.before = "";
    desk.inserter.insert("текст");
    ASSERT_EQ(desk.main.delayed.size(), 1u);
    EXPECT_DOUBLE_EQ(desk.main.delayed[0].first, 0.6);
    EXPECT_NE(desk.clipboard.contents(Selection::clipboard), userContents);

    desk.main.runAll();
    EXPECT_EQ(desk.log.back(), "restore clipboard");
    EXPECT_EQ(desk.clipboard.contents(Selection::clipboard), userContents);
}

TEST(Inserter, LeavesTheClipboardAloneWhenSomebodyWroteToItSince) {
    const ClipboardContents copied = {{"text/plain", "скопировано позже"}};
    Desk foreign;
    foreign.inserter.insert("текст");
    foreign.clipboard.foreignWrite(Selection::clipboard, copied);
    foreign.main.runAll();
    EXPECT_NE(foreign.log.back(), "restore clipboard");
    EXPECT_EQ(foreign.clipboard.contents(Selection::clipboard), copied);

    // A later write of the program's own (copying a recent dictation) also stays.
    Desk ours;
    ours.inserter.insert("текст");
    ours.clipboard.writeText(Selection::clipboard, "недавнее");
    ours.main.runAll();
    EXPECT_NE(ours.log.back(), "restore clipboard");
    EXPECT_EQ(ours.clipboard.contents(Selection::clipboard).at(0).data, "недавнее");
}

TEST(Inserter, AnEmptyClipboardIsEmptyAgainAfterThePaste) {
    Desk desk;
    desk.clipboard.foreignWrite(Selection::clipboard, {});
    desk.inserter.insert("текст");
    desk.main.runAll();
    EXPECT_EQ(desk.log.back(), "restore clipboard");
    EXPECT_TRUE(desk.clipboard.contents(Selection::clipboard).empty());
}

TEST(Inserter, TwoQuickPastesStillGiveTheUserClipboardBack) {
    Desk desk;
    desk.inserter.insert("первый");
    desk.inserter.insert("второй");
    // The second paste did not copy the first one's text as if it were the user's.
    EXPECT_EQ(std::count(desk.log.begin(), desk.log.end(), "save clipboard"), 1);
    desk.main.runAll();
    EXPECT_EQ(std::count(desk.log.begin(), desk.log.end(), "restore clipboard"), 1);
    EXPECT_EQ(desk.clipboard.contents(Selection::clipboard), userContents);

    // Once the user copied something between the two, that is what the second paste keeps.
    Desk copied;
    copied.inserter.insert("первый");
    copied.clipboard.foreignWrite(Selection::clipboard, {{"text/plain", "новое"}});
    copied.inserter.insert("второй");
    copied.main.runAll();
    EXPECT_EQ(copied.clipboard.contents(Selection::clipboard), (ClipboardContents{{"text/plain", "новое"}}));
}

TEST(Inserter, XtermGetsTheTextOnThePrimarySelectionAndShiftInsert) {
    Desk desk;
    const ClipboardContents selected = {{"text/plain", "выделено"}};
    desk.clipboard.foreignWrite(Selection::primary, selected);
    desk.focus.window = WindowIdentity{"xterm", "XTerm", 42};
    desk.inserter.insert("ls");
    EXPECT_THAT(desk.log, ElementsAre("caret", "save clipboard", "save primary", "write clipboard ls",
                                      "write primary ls", "send shiftInsert"));
    desk.main.runAll();
    EXPECT_EQ(desk.clipboard.contents(Selection::clipboard), userContents);
    EXPECT_EQ(desk.clipboard.contents(Selection::primary), selected);

    // Selecting text elsewhere takes the primary selection: only the clipboard comes back.
    Desk other;
    other.focus.window = WindowIdentity{"xterm", "XTerm", 42};
    other.inserter.insert("ls");
    other.clipboard.foreignWrite(Selection::primary, selected);
    other.main.runAll();
    EXPECT_EQ(other.clipboard.contents(Selection::clipboard), userContents);
    EXPECT_EQ(other.clipboard.contents(Selection::primary), selected);
}

TEST(Inserter, ARestoreDueAfterTheInserterIsGoneDoesNothing) {
    CallLog log;
    fakes::FakeCaretProbe caret{log};
    fakes::FakeClipboard clipboard{log};
    fakes::FakeKeySender keys{log};
    fakes::FakeFocusedWindow focus;
    fakes::ManualMainQueue main;
    {
        output::Inserter inserter{caret, clipboard, keys, focus, main};
        inserter.insert("текст");
    }
    main.runAll();
    EXPECT_NE(log.back(), "restore clipboard");
}

} // namespace
