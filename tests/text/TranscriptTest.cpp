#include "text/Transcript.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using text::Transcript::cleanLocally;
using text::Transcript::joinPieces;
using text::Transcript::needsAI;

TEST(JoinPieces, RepairsTheSeamOfASentenceCutByAPause) {
    EXPECT_EQ(joinPieces({"Я думаю.", "Что это хорошо."}), "Я думаю, что это хорошо.");
    EXPECT_EQ(joinPieces({"Я приду завтра.", "И принесу торт."}), "Я приду завтра и принесу торт.");
    EXPECT_EQ(joinPieces({"Это важно.", "Либо завтра, либо никогда."}), "Это важно либо завтра, либо никогда.");
    EXPECT_EQ(joinPieces({"Да.", "Или нет."}), "Да или нет.");
    EXPECT_EQ(joinPieces({"  Привет.  ", "", "как дела"}), "Привет, как дела");
    // A continuation word must stand alone: "Ичкерия" is not "и".
    EXPECT_EQ(joinPieces({"Я был там.", "Ичкерия далеко."}), "Я был там. Ичкерия далеко.");
}

TEST(JoinPieces, KeepsRealSentenceEndsAndLowersOnlyStrayCapitals) {
    EXPECT_EQ(joinPieces({"Это важно!", "Потому что сроки."}), "Это важно! Потому что сроки.");
    EXPECT_EQ(joinPieces({"Готово…", "Что дальше?"}), "Готово… Что дальше?");
    EXPECT_EQ(joinPieces({"Я приду завтра", "Принесу торт."}), "Я приду завтра принесу торт.");
    EXPECT_EQ(joinPieces({"Позвони в", "СРО завтра."}), "Позвони в СРО завтра.");
    EXPECT_EQ(joinPieces({"Буква", "Я"}), "Буква Я");
    EXPECT_EQ(joinPieces({"Число", "42 года"}), "Число 42 года");
    // A capital written as a letter and a combining mark is one character, lowered as a whole.
    EXPECT_EQ(joinPieces({"Слово", "Е\u0301сли"}), "Слово е\u0301сли");
    EXPECT_EQ(joinPieces({"Слово", "Е\u0301Е"}), "Слово Е\u0301Е");
}

TEST(JoinPieces, BlankInputGivesNothing) {
    EXPECT_EQ(joinPieces({}), "");
    EXPECT_EQ(joinPieces({"", " \t ", "\u00A0"}), "");
    // Only spaces and tabs are trimmed: a line feed the recogniser produced stays.
    EXPECT_EQ(joinPieces({"\n"}), "\n");
}

TEST(CleanLocally, RemovesFillersAtSentenceStarts) {
    EXPECT_EQ(cleanLocally("Ну, короче, я пошёл домой."), "Я пошёл домой.");
    EXPECT_EQ(cleanLocally("Ну, ну, ну, ну, давай."), "Ну, давай.");
    EXPECT_EQ(cleanLocally("ээ, давай созвонимся. Ну, в общем, завтра."), "Давай созвонимся. Завтра.");
    // Stacked fillers at several sentence starts: each pass takes one from every start.
    EXPECT_EQ(cleanLocally("Ну, типа, короче, идём. Ну, так сказать, это самое, стоим! Короче, всё."),
              "Идём. Стоим! Всё.");
    EXPECT_EQ(cleanLocally("ну давай"), "Ну давай");
    EXPECT_EQ(cleanLocally("ТИПА, ГОТОВО"), "ГОТОВО");
}

TEST(CleanLocally, RemovesFillersAndHesitationsInside) {
    EXPECT_EQ(cleanLocally("Я думаю, ну, что это хорошо."), "Я думаю что это хорошо.");
    EXPECT_EQ(cleanLocally("Я думаю, ну."), "Я думаю.");
    EXPECT_EQ(cleanLocally("мм я не знаю"), "Я не знаю");
    EXPECT_EQ(cleanLocally("Это э-э сложно, ээээ, правда"), "Это сложно, правда");
    // "эм" is a hesitation only as a word of its own.
    EXPECT_EQ(cleanLocally("эмблема"), "Эмблема");
}

TEST(CleanLocally, FoldsWhiteSpaceTrimsAndCapitalises) {
    EXPECT_EQ(cleanLocally("привет.   как дела? «хорошо» "), "Привет. Как дела? «Хорошо»");
    EXPECT_EQ(cleanLocally(", привет"), "Привет");
    EXPECT_EQ(cleanLocally("абзац.\n\nЕщё"), "Абзац. Ещё");
    EXPECT_EQ(cleanLocally("строка\nвторая"), "Строка\nвторая");
    EXPECT_EQ(cleanLocally("итак.\nдалее"), "Итак.\nДалее");
    EXPECT_EQ(cleanLocally("он сказал. (тихо) и ушёл… \"вот\""), "Он сказал. (Тихо) и ушёл… \"Вот\"");
    // A digit at a sentence start cancels the capital.
    EXPECT_EQ(cleanLocally("готово. 5 штук"), "Готово. 5 штук");
    // Full case mapping: one character may become two.
    EXPECT_EQ(cleanLocally("ßtraße"), "SStraße");
    // A letter with a combining mark is one character: the mark stays on the capital.
    EXPECT_EQ(cleanLocally("е\u0301сли. о\u0308"), "Е\u0301сли. О\u0308");
}

TEST(CleanLocally, GivesNothingWhenNothingIsLeft) {
    EXPECT_EQ(cleanLocally(""), "");
    EXPECT_EQ(cleanLocally(", "), "");
    EXPECT_EQ(cleanLocally("ээ мм эм"), "");
    EXPECT_EQ(cleanLocally("Ну, короче, "), "");
    EXPECT_EQ(cleanLocally(" , ,, "), "");
}

TEST(NeedsAI, FindsSpokenSelfCorrections) {
    EXPECT_TRUE(needsAI("Встреча до пятницы, нет, до четверга."));
    EXPECT_TRUE(needsAI("Приду в пять, точнее в шесть."));
    EXPECT_TRUE(needsAI("Давай в среду вернее в четверг"));
    EXPECT_TRUE(needsAI("Купи три нет четыре батона"));
    EXPECT_TRUE(needsAI("Купи 2 нет 3 пачки"));
    EXPECT_TRUE(needsAI("Нет, я не приду."));
    EXPECT_TRUE(needsAI("Ой, забыл."));
    // The repeated preposition is compared without regard to case.
    EXPECT_TRUE(needsAI("В среду нет в четверг"));
    EXPECT_TRUE(needsAI("В среду, нет, в четверг"));
    EXPECT_TRUE(needsAI("Давай ВО вторник вернее во вторник вечером"));
}

TEST(NeedsAI, IgnoresOrdinaryNegation) {
    EXPECT_FALSE(needsAI("Это не так."));
    EXPECT_FALSE(needsAI("Я сказал нет."));
    EXPECT_FALSE(needsAI(""));
    // Different prepositions, or a preposition inside a longer word, are no correction.
    EXPECT_FALSE(needsAI("Давай в среду вернее на неделе"));
    EXPECT_FALSE(needsAI("Давай в среду вернее вторник"));
    EXPECT_FALSE(needsAI("Купи три нет"));
}

TEST(Transcript, ConcurrentFirstUseSharesTheExpressions) {
    std::vector<std::thread> threads;
    std::vector<std::string> cleaned(4);
    std::vector<int> corrections(4);
    for (size_t i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            cleaned[i] = cleanLocally("ну, привет. мм как дела");
            corrections[i] = needsAI("до пятницы, нет, до четверга") ? 1 : 0;
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(cleaned[i], "Привет. Как дела");
        EXPECT_EQ(corrections[i], 1);
    }
}

} // namespace
