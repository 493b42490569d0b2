// The leading space, decided from the character before the caret as the accessibility bus reports
// it, against a real Qt field (which counts offsets in UTF-16 units) and a real GTK entry (which
// counts code points), through the whole paste.
#include "output/Inserter.h"
#include "platform/linux/AtspiCaretProbe.h"
#include "platform/linux/ToolkitAccessibility.h"
#include "platform/qt/QtClipboard.h"
#include "platform/x11/X11FocusedWindow.h"
#include "platform/x11/XTestKeySender.h"

#include "DesktopSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using desktop::GatedQueue;
using desktop::Program;
using desktop::TextTarget;

class CaretOnTheDesktop : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = desktop::missingAccessibilityBus()) {
            GTEST_SKIP() << *missing;
        }
    }

    // Waits until the focused application answers on the accessibility bus with `before`.
    bool waitForCaret(const std::optional<std::string>& before) {
        return desktop::pumpUntil([&] { return caret.characterBeforeCaret() == before; });
    }

    void paste(const std::string& text) { inserter.insert(text); }

    // Everything released at the end, so the clipboard is back before the next paste.
    void TearDown() override { gated.release(); }

    platform::x11::X11FocusedWindow focus;
    platform::lnx::AtspiCaretProbe caret{[this]() -> std::optional<int> {
        auto window = focus.identify();
        return window ? window->processId : std::nullopt;
    }};
    platform::qt::QtClipboard clipboard;
    platform::x11::XTestKeySender keys;
    GatedQueue gated;
    output::Inserter inserter{caret, clipboard, keys, focus, gated};
};

struct Case {
    std::string text;     // the field's text before the paste
    int caret;            // caret, or selection start (UTF-16 units)
    int selected;         // selection length
    std::string before;   // what the probe must report
    std::string expected; // the field's text after pasting "мир"
};

TEST_F(CaretOnTheDesktop, QtFieldGetsASpaceExactlyWhereTheTextWouldRunIntoAWord) {
    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    const Case cases[] = {
        {"", 0, 0, "", "мир"},
        {"слово", 5, 0, "о", "слово мир"},
        {"число 42", 8, 0, "2", "число 42 мир"},
        {"Конец.", 6, 0, ".", "Конец. мир"},
        {"раз,", 4, 0, ",", "раз, мир"},
        {"(", 1, 0, "(", "(мир"},
        {"«", 1, 0, "«", "«мир"},
        {"a/", 2, 0, "/", "a/мир"},
        {"таб\t", 4, 0, "\t", "таб\tмир"},
        {"до\u00A0", 3, 0, "\u00A0", "до\u00A0мир"},
        {"вставка в середину", 7, 0, "а", "вставка мир в середину"},
        // A selection: its start decides, and the paste replaces it.
        {"один два", 5, 3, " ", "один мир"},
        {"одиндва", 4, 3, "н", "один мир"},
        {"(два)", 1, 3, "(", "(мир)"},
        // Qt counts UTF-16 units: one unit back would be half of the emoji.
        {"a😀", 3, 0, "😀", "a😀 мир"},
        {"😀b", 2, 0, "😀", "😀 мирb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        target.setText(c.text);
        target.select(c.caret, c.selected);
        ASSERT_TRUE(waitForCaret(c.before));
        paste("мир");
        EXPECT_EQ(target.waitForText(c.expected), c.expected);
        gated.release();
    }
}

TEST_F(CaretOnTheDesktop, ALineBreakBeforeTheCaretTakesNoSpace) {
    TextTarget target(TextTarget::Kind::multiline);
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    target.setText("строка\n");
    ASSERT_TRUE(waitForCaret("\n"));
    paste("мир");
    EXPECT_EQ(target.waitForText("строка\nмир"), "строка\nмир");
}

TEST_F(CaretOnTheDesktop, GtkEntryGetsTheSameDecisionsWithItsOwnOffsets) {
    // zenity's entry with `initial` in it; `keys` (xdotool key names) move the caret once the entry
    // has the focus; "мир" is pasted when the probe reports `before`; Return ends it.
    auto gtk = [&](const std::string& initial, const QStringList& keys, const std::string& before) -> std::string {
        Program zenity("zenity", {"--entry", "--title=Ruvex GTK target", "--text=Поле",
                                  "--entry-text=" + QString::fromStdString(initial)});
        if (!desktop::waitForFocus("zenity")) {
            return "<no focus>";
        }
        if (!keys.isEmpty()) {
            // The entry has the focus once its whole text is selected, which starts at 0.
            waitForCaret(std::string());
            desktop::runTool("xdotool", QStringList{"key"} + keys);
        }
        if (!waitForCaret(before)) {
            return "<caret not reported>";
        }
        paste("мир");
        // GTK fetches the clipboard after the key press; Return must wait until the text is in.
        waitForCaret(std::string("р"));
        desktop::runTool("xdotool", {"key", "Return"});
        desktop::pumpUntil([&] { return zenity.finished(); });
        gated.release();
        auto out = zenity.remainingOutput();
        return out.empty() ? out : out.substr(0, out.size() - 1);
    };
    EXPECT_EQ(gtk("слово", {"End"}, "о"), "слово мир");
    // The whole initial text is selected: the selection starts at the start, and is replaced.
    EXPECT_EQ(gtk("заменить", {}, ""), "мир");
    EXPECT_EQ(gtk("a(", {"End"}, "("), "a(мир");
    // GTK counts code points: two back from the caret still ends in the whole emoji.
    EXPECT_EQ(gtk("a😀", {"End"}, "😀"), "a😀 мир");
    EXPECT_EQ(gtk("😀b", {"End", "Left"}, "😀"), "😀 мирb");
}

TEST_F(CaretOnTheDesktop, AWindowWithoutAccessibleTextGetsNoSpaceAndStillThePaste) {
    testsupport::TempDir dir;
    QString typed = QString::fromStdString((dir / "typed").string());
    // xterm exposes nothing on the accessibility bus.
    Program xterm("xterm",
                  {"-u8", "-e", "sh", "-c",
                   QString("while read line && [ -z \"$line\" ]; do :; done; printf %s \"$line\" > '%1'").arg(typed)},
                  {"LC_ALL=C.UTF-8"});
    ASSERT_TRUE(desktop::waitForFocus("xterm"));
    EXPECT_EQ(caret.characterBeforeCaret(), std::nullopt);
    paste("слово");
    ASSERT_TRUE(desktop::pumpUntil([&] {
        desktop::runTool("xdotool", {"key", "Return"});
        desktop::pumpFor(0.2);
        return xterm.finished();
    }));
    EXPECT_EQ(testsupport::readFile(typed.toStdString()), "слово");
}

TEST_F(CaretOnTheDesktop, QtProgramsExposeTheirTextWhenStartedWithTheDesktopSwitchOn) {
    using platform::lnx::ToolkitAccessibility;
    auto was = ToolkitAccessibility::enabled();
    ASSERT_TRUE(was.has_value());
    struct Restore {
        bool on;
        ~Restore() { ToolkitAccessibility::setEnabled(on); }
    } restore{*was};

    ASSERT_TRUE(ToolkitAccessibility::setEnabled(false));
    EXPECT_EQ(ToolkitAccessibility::enabled(), false);
    {
        TextTarget closed(TextTarget::Kind::line, false);
        closed.setText("слово");
        EXPECT_EQ(caret.characterBeforeCaret(), std::nullopt);
    }
    ASSERT_TRUE(ToolkitAccessibility::setEnabled(true));
    EXPECT_EQ(ToolkitAccessibility::enabled(), true);
    TextTarget open(TextTarget::Kind::line, false);
    open.setText("слово");
    EXPECT_TRUE(waitForCaret("о"));
}

TEST_F(CaretOnTheDesktop, AStoppedApplicationCostsNoSpaceAndNoHang) {
    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    target.setText("слово");
    ASSERT_TRUE(waitForCaret("о"));

    ::kill(target.program().pid(), SIGSTOP);
    auto answer = caret.characterBeforeCaret();
    ::kill(target.program().pid(), SIGCONT);
    EXPECT_EQ(answer, std::nullopt);
    // Awake again, it answers as before.
    EXPECT_TRUE(waitForCaret("о"));
}

} // namespace
