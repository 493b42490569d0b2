#include "text/Vocabulary.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::readFile;
using testsupport::writeFile;
using text::Vocabulary;
using Replacement = Vocabulary::Replacement;

TEST(VocabularyFormat, ParsesTermsReplacementsAndComments) {
    Vocabulary vocabulary("Ruvex\n"
                          "  Вальмо Фонд\t\n"
                          "# комментарий\n"
                          "  # заметка\n"
                          "\n"
                          "в гид → в Git\n"
                          "эс эр о -> СРО\n"
                          "→ что-то\n"
                          "  -> тоже ничего\n"
                          "слово →\n"
                          "a -> b → c\n"
                          "Ruvex\n"
                          "ruvex\n"
                          "в гид → в Git");
    EXPECT_EQ(vocabulary.terms, (std::vector<std::string>{"Ruvex", "Вальмо Фонд", "ruvex"}));
    EXPECT_EQ(vocabulary.replacements,
              (std::vector<Replacement>{
                  {"в гид", "в Git"}, {"эс эр о", "СРО"}, {"слово", ""}, {"a -> b", "c"}, {"в гид", "в Git"}}));
}

TEST(VocabularyFormat, EveryNewlineCharacterEndsALine) {
    std::string lf = "Ruvex\nв гид → в Git\n";
    EXPECT_EQ(Vocabulary("Ruvex\r\nв гид → в Git\r\n"), Vocabulary(lf));
    EXPECT_EQ(Vocabulary("Ruvex\rв гид → в Git"), Vocabulary(lf));
    EXPECT_EQ(Vocabulary("Ruvex\u2028в гид → в Git\u2029"), Vocabulary(lf));
    EXPECT_EQ(Vocabulary("Ruvex\u0085в гид → в Git\v\f"), Vocabulary(lf));
    // A byte-order mark some editors write is not part of the first line.
    EXPECT_EQ(Vocabulary("\xEF\xBB\xBF# комментарий\nRuvex\nв гид → в Git"), Vocabulary(lf));
}

TEST(VocabularyApply, ReplacesWholeWordsIgnoringCase) {
    Vocabulary vocabulary("в гид → в Git");
    EXPECT_EQ(vocabulary.apply("Открой в гид репозиторий"), "Открой в Git репозиторий");
    EXPECT_EQ(vocabulary.apply("В ГИД."), "в Git.");
    EXPECT_EQ(vocabulary.apply("в гиде"), "в гиде");
    EXPECT_EQ(vocabulary.apply("в гид2 и в гид"), "в гид2 и в Git");
    EXPECT_EQ(vocabulary.apply("в гид, в гид"), "в Git, в Git");
    EXPECT_EQ(Vocabulary("слово →").apply("одно слово тут"), "одно  тут");
    EXPECT_EQ(Vocabulary().apply("как есть"), "как есть");
}

TEST(VocabularyApply, LaterRulesSeeEarlierResults) {
    Vocabulary vocabulary("эс эр о → СРО\nСРО → саморегулируемая организация\nорганизация → орг.");
    EXPECT_EQ(vocabulary.apply("Звонили из эс эр о"), "Звонили из саморегулируемая орг.");
}

TEST(VocabularyApply, RulesThatFeedOnTheirOwnOutputCannotFillMemory) {
    std::string repeated;
    for (int i = 0; i < 22; ++i) {
        repeated += "а → а а\n";
    }
    std::string once = Vocabulary(repeated).apply("да а нет");
    ASSERT_LT(once.size(), 100u) << "a repeated rule applies once";
    EXPECT_EQ(once, "да а а нет");

    // Distinct rules that each double the text: the first nine give 512 "а" (1023 code units),
    // the tenth would cross 8 × 1 + 1024 and is left out with every rule after it.
    std::string doubling;
    for (char separator : std::string(" -,;:/+=*!?<>|~^%&@")) {
        doubling += std::string("а → а") + separator + "а\n";
    }
    doubling += "а → б\n";
    std::string result = Vocabulary(doubling).apply("а");
    EXPECT_EQ(result.size(), 512 * 2 + 511u);
    EXPECT_EQ(result.find("б"), std::string::npos);
}

TEST(VocabularyApply, SharedValueIsAppliedFromSeveralThreads) {
    const Vocabulary vocabulary("в гид → в Git\nэс эр о → СРО");
    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i) {
        threads.emplace_back([&, i] { results[i] = vocabulary.apply("Отправь в гид для эс эр о"); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& result : results) {
        EXPECT_EQ(result, "Отправь в Git для СРО");
    }
}

TEST(VocabularyFile, LoadTextAndSaveRoundTrip) {
    testsupport::IsolatedHome home;
    EXPECT_EQ(Vocabulary::file(), home.dataHome() / "Ruvex Voice" / "Словарь.txt");
    EXPECT_EQ(Vocabulary::load(), Vocabulary());
    EXPECT_EQ(Vocabulary::text(), Vocabulary::templateText());
    EXPECT_EQ(Vocabulary(Vocabulary::templateText()), Vocabulary()) << "the template is comments only";
    EXPECT_FALSE(std::filesystem::exists(Vocabulary::file()));

    std::string text = "Ruvex\r\nв гид → в Git\r\n";
    Vocabulary::save(text);
    EXPECT_EQ(readFile(Vocabulary::file()), text);
    EXPECT_EQ(Vocabulary::text(), text);
    EXPECT_EQ(Vocabulary::load(), Vocabulary(text));
    EXPECT_EQ(Vocabulary::load().terms, std::vector<std::string>{"Ruvex"});
}

TEST(VocabularyFile, InvalidUTF8ReadsAsNoDictionary) {
    testsupport::IsolatedHome home;
    for (std::string bad : {"Ruvex\n\xC0\xAF\n", "Ruvex \xE2\x86", "\xED\xA0\x80", "\xFF"}) {
        writeFile(Vocabulary::file(), bad);
        EXPECT_EQ(Vocabulary::load(), Vocabulary());
        EXPECT_EQ(Vocabulary::text(), Vocabulary::templateText());
    }

    // Saving over a file the editor could not show keeps that file aside.
    writeFile(Vocabulary::file(), "\xCF\xF0\xE8\xE2\xE5\xF2\n"); // "Привет" in CP1251
    Vocabulary::save("Ruvex\n");
    EXPECT_EQ(readFile(Vocabulary::file()), "Ruvex\n");
    EXPECT_EQ(readFile(Vocabulary::file().string() + ".bad"), "\xCF\xF0\xE8\xE2\xE5\xF2\n");
}

TEST(VocabularyFile, SaveFailsWhenTheFolderCannotBeMade) {
    testsupport::IsolatedHome home;
    // A regular file where the application's folder must be (permissions do not stop root).
    writeFile(home.dataHome() / "Ruvex Voice", "not a folder");
    try {
        Vocabulary::save("Ruvex\n");
        FAIL() << "save succeeded";
    } catch (const Vocabulary::SaveError& error) {
        EXPECT_STREQ(error.what(), "вместо папки словаря лежит файл");
    }
    EXPECT_EQ(readFile(home.dataHome() / "Ruvex Voice"), "not a folder");
    EXPECT_EQ(Vocabulary::load(), Vocabulary());
    EXPECT_FALSE(Vocabulary().writeTermsFile());
    EXPECT_FALSE(Vocabulary("Ruvex").writeTermsFile());
}

TEST(VocabularyFile, FailedWriteKeepsTheOldFile) {
    testsupport::IsolatedHome home;
    std::string old = "старый словарь\n";
    Vocabulary::save(old);

    // A file-size limit makes the write itself fail, for root too.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    try {
        Vocabulary::save(std::string(4096, 'x'));
    } catch (const Vocabulary::SaveError& error) {
        message = error.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(message.rfind("не удалось записать файл (", 0), 0u) << message;
    EXPECT_EQ(readFile(Vocabulary::file()), old);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Vocabulary::file().parent_path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"Словарь.txt"});
}

TEST(VocabularyTermsFile, WritesOneTermALineBesideTheDictionary) {
    testsupport::IsolatedHome home;
    EXPECT_FALSE(Vocabulary().writeTermsFile());
    EXPECT_FALSE(Vocabulary(Vocabulary::templateText()).writeTermsFile());
    EXPECT_FALSE(std::filesystem::exists(home.dataHome() / "Ruvex Voice" / "terms.txt"));

    auto location = Vocabulary("Ruvex\nВальмо Фонд\nв гид → в Git").writeTermsFile();
    ASSERT_TRUE(location);
    EXPECT_EQ(*location, home.dataHome() / "Ruvex Voice" / "terms.txt");
    EXPECT_EQ(readFile(*location), "Ruvex\nВальмо Фонд\n");

    // Rewritten completely each time.
    Vocabulary("Один").writeTermsFile();
    EXPECT_EQ(readFile(*location), "Один\n");
}

TEST(VocabularyTermsFile, LeavesOutWordsTheRecogniserReadsAsScores) {
    testsupport::IsolatedHome home;
    Vocabulary vocabulary("улыбка :)\n:начало строки\nдон :5.0\nодин\t:x  два\n:)\nулыбка\nпочта: да\nпочта:да");
    // The terms themselves stay as written: the AI prompt spells them out.
    EXPECT_EQ(vocabulary.terms, (std::vector<std::string>{"улыбка :)", ":начало строки", "дон :5.0", "один\t:x  два",
                                                          ":)", "улыбка", "почта: да", "почта:да"}));
    auto location = vocabulary.writeTermsFile();
    ASSERT_TRUE(location);
    EXPECT_EQ(readFile(*location), "улыбка\nстроки\nдон\nодин два\nпочта: да\nпочта:да\n");

    EXPECT_FALSE(Vocabulary(":)\n:-(").writeTermsFile());
}

} // namespace
