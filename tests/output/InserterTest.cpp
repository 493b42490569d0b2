#include "output/Inserter.h"

#include "fakes/FakePaste.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

using output::Inserter;
using platform::ClipboardContents;
using platform::PasteShortcut;
using platform::Selection;
using platform::WindowIdentity;
using testing::ElementsAre;

const ClipboardContents userContents = {{"text/plain", "из буфера"}, {"text/html", "<b>из буфера</b>"}};

struct Desk {
    fakes::CallLog log;
    fakes::ManualMainQueue main;
    fakes::FakeCaretProbe caret{log};
    fakes::FakeClipboard clipboard{log};
    fakes::FakeKeySender keys{log, main};
    fakes::FakeFocusedWindow focus;
    std::optional<Inserter> inserter{std::in_place, caret, clipboard, keys, focus, main};

    Desk() { clipboard.foreignWrite(Selection::clipboard, userContents); }
    const ClipboardContents& board(Selection selection = Selection::clipboard) { return clipboard.contents(selection); }
    long count(const std::string& call) { return std::count(log.begin(), log.end(), call); }
};

TEST(Inserter, LeadingSpaceDependsOnlyOnTheCharacterBeforeTheInsertionPoint) {
    EXPECT_FALSE(Inserter::needsLeadingSpace(std::nullopt));
    // Letters, digits, closing punctuation, emoji; an opener with a combining mark is another character.
    for (const char* before :
         {"a", "я", "Ё", "7", ".", ",", "!", ")", "»", "\u201C", "😀", "👍🏽", "e\u0301", "(\u0301"}) {
        EXPECT_TRUE(Inserter::needsLeadingSpace(before)) << before;
    }
    // The start of the text, whitespace of every kind, and the eight openers.
    for (const char* before : {"", " ", "\t", "\n", "\r\n", "\u00A0", "\u2028", "\u2029", "\u3000", "\u202F", "\v", "(",
                               "[", "{", "\u00AB", "\u201E", "\"", "'", "/"}) {
        EXPECT_FALSE(Inserter::needsLeadingSpace(before)) << before;
    }
}

TEST(Inserter, PastesTheTextWithASpaceOnlyWhereItWouldRunIntoAWord) {
    Desk desk;
    desk.caret.before = ".";
    desk.inserter->insert("Привет");
    EXPECT_THAT(desk.log, ElementsAre("caret", "save clipboard", "write clipboard  Привет", "send controlV"));
    EXPECT_EQ(desk.board(), (ClipboardContents{{"text/plain", " Привет"}, {"x-kde-passwordManagerHint", "secret"}}));

    for (std::optional<std::string> before : {std::optional<std::string>("\u00AB"), std::optional<std::string>()}) {
        Desk other;
        other.caret.before = before;
        other.inserter->insert("привет");
        EXPECT_EQ(other.log.at(2), "write clipboard привет");
    }
}

TEST(Inserter, TerminalsGetTheShortcutTheyPasteWith) {
    EXPECT_EQ(Inserter::shortcutFor(std::nullopt), PasteShortcut::controlV);
    const std::tuple<std::string, std::string, PasteShortcut> windows[] = {
        {"zenity", "Zenity", PasteShortcut::controlV},
        {"fixture", "QtLineEdit", PasteShortcut::controlV},
        {"code", "Code", PasteShortcut::controlV},
        {"", "com.raggesilver.BlackBox", PasteShortcut::controlV},
        {"gnome-terminal-server", "Gnome-terminal", PasteShortcut::controlShiftV},
        {"konsole", "konsole", PasteShortcut::controlShiftV},
        {"Alacritty", "Alacritty", PasteShortcut::controlShiftV},
        {"kgx", "Kgx", PasteShortcut::controlShiftV},
        {"org.gnome.Console", "Org.gnome.Console", PasteShortcut::controlShiftV},
        {"st-256color", "st-256color", PasteShortcut::controlShiftV},
        // It holds "xterm", but binds Ctrl+Shift+V.
        {"lxterminal", "Lxterminal", PasteShortcut::controlShiftV},
        {"xterm", "XTerm", PasteShortcut::shiftInsert},
        {"urxvt", "URxvt", PasteShortcut::shiftInsert},
    };
    for (const auto& [instance, className, expected] : windows) {
        EXPECT_EQ(Inserter::shortcutFor(WindowIdentity{instance, className, std::nullopt}), expected) << className;
    }
}

TEST(Inserter, PutsTheUserClipboardBackAfterTheDelayWhenItIsStillOurs) {
    Desk desk;
    desk.inserter->insert("текст");
    desk.main.runOnce(); // the keys went
    ASSERT_EQ(desk.main.delayed.size(), 1u);
    EXPECT_DOUBLE_EQ(desk.main.delayed[0].first, 0.6);
    EXPECT_NE(desk.board(), userContents);
    desk.main.runAll();
    EXPECT_EQ(desk.log.back(), "restore clipboard");
    EXPECT_EQ(desk.board(), userContents);

    // An empty clipboard is empty again.
    Desk empty;
    empty.clipboard.foreignWrite(Selection::clipboard, {});
    empty.inserter->insert("текст");
    empty.main.runAll();
    EXPECT_EQ(empty.log.back(), "restore clipboard");
    EXPECT_TRUE(empty.board().empty());
}

TEST(Inserter, LeavesTheClipboardAloneWhenSomebodyWroteToItSinceOrTheInserterIsGone) {
    const ClipboardContents copied = {{"text/plain", "скопировано позже"}};
    Desk foreign;
    foreign.inserter->insert("текст");
    foreign.clipboard.foreignWrite(Selection::clipboard, copied);
    foreign.main.runAll();
    EXPECT_EQ(foreign.count("restore clipboard"), 0);
    EXPECT_EQ(foreign.board(), copied);

    // A later write of the program's own (copying a recent dictation) also stays.
    Desk ours;
    ours.inserter->insert("текст");
    ours.clipboard.writeText(Selection::clipboard, "недавнее");
    ours.main.runAll();
    EXPECT_EQ(ours.count("restore clipboard"), 0);
    EXPECT_EQ(ours.board().at(0).data, "недавнее");

    Desk gone;
    gone.inserter->insert("текст");
    gone.inserter.reset();
    gone.main.runAll();
    EXPECT_EQ(gone.count("restore clipboard"), 0);
}

TEST(Inserter, APasteThatCouldNotBeSentLeavesTheTextOnTheClipboardAndSaysSo) {
    Desk desk;
    desk.keys.result = platform::KeySender::Result::failed;
    std::optional<bool> pasted;
    desk.inserter->insert("текст", [&](bool sent) { pasted = sent; });
    EXPECT_FALSE(pasted) << "told later, on the main queue";
    desk.main.runAll();
    EXPECT_EQ(pasted, false);
    EXPECT_EQ(desk.count("restore clipboard"), 0);
    EXPECT_EQ(desk.board().at(0).data, "текст");
}

TEST(Inserter, TwoQuickPastesStillGiveTheUserClipboardBack) {
    Desk desk;
    desk.inserter->insert("первый");
    desk.inserter->insert("второй");
    // The second paste did not copy the first one's text as if it were the user's.
    EXPECT_EQ(desk.count("save clipboard"), 1);
    desk.main.runAll();
    EXPECT_EQ(desk.count("restore clipboard"), 1);
    EXPECT_EQ(desk.board(), userContents);

    // Once the user copied something between the two, that is what the second paste keeps.
    Desk copied;
    copied.inserter->insert("первый");
    copied.clipboard.foreignWrite(Selection::clipboard, {{"text/plain", "новое"}});
    copied.inserter->insert("второй");
    copied.main.runAll();
    EXPECT_EQ(copied.board(), (ClipboardContents{{"text/plain", "новое"}}));
}

TEST(Inserter, XtermGetsTheTextOnThePrimarySelectionAndShiftInsert) {
    const ClipboardContents selected = {{"text/plain", "выделено"}};
    Desk desk;
    desk.clipboard.foreignWrite(Selection::primary, selected);
    desk.focus.window = WindowIdentity{"xterm", "XTerm", 42};
    // A shell would run every line of the paste on arrival: a terminal gets one line.
    desk.inserter->insert("ls\n");
    EXPECT_THAT(desk.log, ElementsAre("caret", "save clipboard", "save primary", "write clipboard ls",
                                      "write primary ls", "send shiftInsert"));
    EXPECT_EQ(Inserter::oneLine("\r\nrm -rf ~ \r\n\t echo\u2028да\u0085\u2029нет\vок\n\n"), "rm -rf ~ echo да нет ок");
    EXPECT_EQ(Inserter::oneLine("\n \n"), "");
    desk.main.runAll();
    EXPECT_EQ(desk.board(), userContents);
    EXPECT_EQ(desk.board(Selection::primary), selected);

    // Selecting text elsewhere takes the primary selection: only the clipboard comes back.
    Desk other;
    other.focus.window = WindowIdentity{"xterm", "XTerm", 42};
    other.inserter->insert("ls");
    other.clipboard.foreignWrite(Selection::primary, selected);
    other.main.runAll();
    EXPECT_EQ(other.board(), userContents);
    EXPECT_EQ(other.count("restore primary"), 0);
}

} // namespace
