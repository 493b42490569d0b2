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
#include "fakes/FakePaste.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

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

    // Everything released at the end, so the clipboard is back before the next paste.
    void TearDown() override { held.runAll(); }

    platform::x11::X11FocusedWindow focus;
    platform::lnx::AtspiCaretProbe caret{[this]() -> std::optional<int> {
        auto window = focus.identify();
        return window ? window->processId : std::nullopt;
    }};
    platform::qt::QtClipboard clipboard;
    platform::x11::XTestKeySender keys;
    fakes::ManualMainQueue held;
    output::Inserter inserter{caret, clipboard, keys, focus, held};
};

TEST_F(CaretOnTheDesktop, QtFieldGetsASpaceExactlyWhereTheTextWouldRunIntoAWord) {
    TextTarget target;
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    // The text, the caret or selection start (UTF-16 units), the selection's length, what the probe
    // reports, and the text after pasting "мир".
    const std::tuple<std::string, int, int, std::string, std::string> cases[] = {
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
    for (const auto& [text, start, length, before, expected] : cases) {
        SCOPED_TRACE(text);
        target.setText(text);
        target.select(start, length);
        ASSERT_TRUE(waitForCaret(before));
        inserter.insert("мир");
        EXPECT_EQ(target.waitForText(expected), expected);
        held.runAll();
    }

    // A stopped application costs no space and no hang; awake again, it answers as before.
    target.setText("слово");
    ASSERT_TRUE(waitForCaret("о"));
    ::kill(target.program().pid(), SIGSTOP);
    auto answer = caret.characterBeforeCaret();
    ::kill(target.program().pid(), SIGCONT);
    EXPECT_EQ(answer, std::nullopt);
    EXPECT_TRUE(waitForCaret("о"));
}

TEST_F(CaretOnTheDesktop, ALineBreakBeforeTheCaretTakesNoSpace) {
    TextTarget target(TextTarget::Kind::multiline);
    ASSERT_TRUE(desktop::waitForFocus("fixture_text_target"));
    target.setText("строка\n");
    ASSERT_TRUE(waitForCaret("\n"));
    inserter.insert("мир");
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
        inserter.insert("мир");
        // GTK fetches the clipboard after the key press; Return must wait until the text is in.
        waitForCaret(std::string("р"));
        desktop::runTool("xdotool", {"key", "Return"});
        desktop::pumpUntil([&] { return zenity.finished(); });
        held.runAll();
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

// With the switch off a program exposes nothing, as xterm never does: no answer, so no space.
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

} // namespace
