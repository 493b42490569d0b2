#include "text/Transcript.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using text::Transcript::cleanLocally;
using text::Transcript::joinPieces;
using text::Transcript::needsAI;

TEST(Transcript, JoinPiecesRepairsSeamsCutByAPauseAndKeepsRealSentenceEnds) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"Я думаю.", "Что это хорошо."}, "Я думаю, что это хорошо."},
        {{"Я приду завтра.", "И принесу торт."}, "Я приду завтра и принесу торт."},
        {{"Это важно.", "Либо завтра, либо никогда."}, "Это важно либо завтра, либо никогда."},
        {{"Да.", "Или нет."}, "Да или нет."},
        {{"  Привет.  ", "", "как дела"}, "Привет, как дела"},
        // A continuation word must stand alone: "Ичкерия" is not "и".
        {{"Я был там.", "Ичкерия далеко."}, "Я был там. Ичкерия далеко."},
        {{"Это важно!", "Потому что сроки."}, "Это важно! Потому что сроки."},
        {{"Готово…", "Что дальше?"}, "Готово… Что дальше?"},
        {{"Я приду завтра", "Принесу торт."}, "Я приду завтра принесу торт."},
        {{"Позвони в", "СРО завтра."}, "Позвони в СРО завтра."},
        {{"Буква", "Я"}, "Буква Я"},
        {{"Число", "42 года"}, "Число 42 года"},
        // A capital written as a letter and a combining mark is one character, lowered as a whole.
        {{"Слово", "Е\u0301сли"}, "Слово е\u0301сли"},
        {{"Слово", "Е\u0301Е"}, "Слово Е\u0301Е"},
        {{}, ""},
        {{"", " \t ", "\u00A0"}, ""},
        // Only spaces and tabs are trimmed: a line feed the recogniser produced stays.
        {{"\n"}, "\n"},
    };
    for (const auto& [pieces, joined] : cases) {
        EXPECT_EQ(joinPieces(pieces), joined) << joined;
    }
}

TEST(Transcript, CleanLocallyRemovesFillersFoldsSpaceAndCapitalises) {
    const std::pair<std::string, std::string> cases[] = {
        {"Ну, короче, я пошёл домой.", "Я пошёл домой."},
        {"Ну, ну, ну, ну, давай.", "Ну, давай."},
        {"ээ, давай созвонимся. Ну, в общем, завтра.", "Давай созвонимся. Завтра."},
        // Stacked fillers at several sentence starts: each pass takes one from every start.
        {"Ну, типа, короче, идём. Ну, так сказать, это самое, стоим! Короче, всё.", "Идём. Стоим! Всё."},
        {"ну давай", "Ну давай"},
        {"ТИПА, ГОТОВО", "ГОТОВО"},
        {"Я думаю, ну, что это хорошо.", "Я думаю что это хорошо."},
        {"Я думаю, ну.", "Я думаю."},
        {"мм я не знаю", "Я не знаю"},
        {"Это э-э сложно, ээээ, правда", "Это сложно, правда"},
        // "эм" is a hesitation only as a word of its own.
        {"эмблема", "Эмблема"},
        {"привет.   как дела? «хорошо» ", "Привет. Как дела? «Хорошо»"},
        {", привет", "Привет"},
        {"абзац.\n\nЕщё", "Абзац. Ещё"},
        {"строка\nвторая", "Строка\nвторая"},
        {"итак.\nдалее", "Итак.\nДалее"},
        {"он сказал. (тихо) и ушёл… \"вот\"", "Он сказал. (Тихо) и ушёл… \"Вот\""},
        // A digit at a sentence start cancels the capital.
        {"готово. 5 штук", "Готово. 5 штук"},
        // Full case mapping: one character may become two.
        {"ßtraße", "SStraße"},
        // A letter with a combining mark is one character: the mark stays on the capital.
        {"е\u0301сли. о\u0308", "Е\u0301сли. О\u0308"},
        {"", ""},
        {", ", ""},
        {"ээ мм эм", ""},
        {"Ну, короче, ", ""},
        {" , ,, ", ""},
    };
    for (const auto& [input, cleaned] : cases) {
        EXPECT_EQ(cleanLocally(input), cleaned) << input;
    }
}

TEST(Transcript, NeedsAIFindsSpokenSelfCorrectionsButNotOrdinaryNegation) {
    for (const char* correction :
         {"Встреча до пятницы, нет, до четверга.", "Приду в пять, точнее в шесть.", "Давай в среду вернее в четверг",
          "Купи три нет четыре батона", "Купи 2 нет 3 пачки", "Нет, я не приду.", "Ой, забыл.",
          // The repeated preposition is compared without regard to case.
          "В среду нет в четверг", "В среду, нет, в четверг", "Давай ВО вторник вернее во вторник вечером"}) {
        EXPECT_TRUE(needsAI(correction)) << correction;
    }
    // Different prepositions, or a preposition inside a longer word, are no correction.
    for (const char* plain : {"Это не так.", "Я сказал нет.", "", "Давай в среду вернее на неделе",
                              "Давай в среду вернее вторник", "Купи три нет"}) {
        EXPECT_FALSE(needsAI(plain)) << plain;
    }
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
