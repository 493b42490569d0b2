// Times the local text path of one dictation: cleanup, a 30-rule dictionary and the
// self-correction test, on about 2 KB of Russian text. Prints microseconds per call. Then the cost of
// a big dictionary (reading it, writing the recogniser's terms file, keeping the terms the model can
// spell) at growing sizes: the seconds must grow in step with the size, not with its square.
#include "speech/ModelFiles.h"
#include "text/Transcript.h"
#include "text/Vocabulary.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <time.h>

namespace {

std::string sampleText() {
    const std::string sentences[] = {
        "ну, короче, мы вчера созвонились с командой и обсудили план на неделю. ",
        "ээ, в общем, надо до пятницы, нет, до четверга закрыть задачу по эс эр о. ",
        "я думаю, ну, что стоит открыть в гид репозиторий и посмотреть историю. ",
        "мм потом, типа, отправим отчёт в вальмо фонд и подождём ответа.   ",
        "купи три нет четыре батона, если будешь проходить мимо магазина. ",
        "это важно, потому что сроки горят и клиент ждёт результат… ",
        "давай в среду вернее в четверг обсудим бюджет на следующий квартал. ",
    };
    std::string text;
    for (size_t i = 0; text.size() < 2048; ++i) {
        text += sentences[i % std::size(sentences)];
    }
    return text;
}

text::Vocabulary sampleVocabulary() {
    std::string dictionary = "Ruvex\nВальмо Фонд\nв гид → в Git\nэс эр о → СРО\nвальмо фонд → Вальмо Фонд\n";
    const char* words[] = {"ютуб",    "телеграм", "гитхаб",   "джира",  "конфлюенс", "слак",     "зум",
                           "эксель",  "ворд",     "пдф",      "апи",    "эсдэка",    "айфон",    "андроид",
                           "линукс",  "питон",    "джава",    "докер",  "кубер",     "постгрес", "редис",
                           "нджинкс", "бэкенд",   "фронтенд", "тимлид", "дедлайн",   "спринт"};
    for (size_t i = 0; i < std::size(words); ++i) {
        dictionary += std::string(words[i]) + " -> Слово" + std::to_string(i) + "\n";
    }
    return text::Vocabulary(dictionary);
}

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Figure {
    double wall;
    double cpu;
};

// Wall-clock and processor time per call: on a busy machine the second is the steadier figure.
template <typename Work> Figure microsecondsPerCall(int calls, Work work) {
    auto start = std::chrono::steady_clock::now();
    double cpuStart = threadSeconds();
    for (int i = 0; i < calls; ++i) {
        work();
    }
    std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
    return {elapsed.count() / calls, (threadSeconds() - cpuStart) * 1e6 / calls};
}

std::string cyrillic(unsigned index) {
    const unsigned c = 0x430 + index % 32;
    return {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
}

// About 10,000 pieces: a speller rebuilt for every term would need billions of steps.
std::vector<std::string> manyPieces() {
    std::vector<std::string> pieces = {"\xE2\x96\x81"};
    for (unsigned a = 0; a < 32; ++a) {
        pieces.push_back(cyrillic(a));
        for (unsigned b = 0; b < 32; ++b) {
            pieces.push_back(cyrillic(a) + cyrillic(b));
            pieces.push_back("\xE2\x96\x81" + cyrillic(a) + cyrillic(b));
            for (unsigned c = 0; c < 7; ++c) {
                pieces.push_back(cyrillic(a) + cyrillic(b) + cyrillic(c));
            }
        }
    }
    return pieces;
}

// Each dictionary holds every term twice, so the duplicates are dropped too.
void bigDictionaries() {
    // The terms file goes beside the dictionary: in a private folder, not the user's.
    char folder[] = "/tmp/ruvex-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return;
    }
    setenv("XDG_DATA_HOME", folder, 1);
    const auto pieces = manyPieces();
    std::printf("\n%-8s %12s %12s %12s\n", "terms", "read ms", "terms file", "spellable");
    for (unsigned count : {25000u, 50000u, 100000u, 200000u}) {
        std::string unique;
        for (unsigned i = 0; i < count; ++i) {
            unique += cyrillic(i) + cyrillic(i / 32) + cyrillic(i / 1024) + cyrillic(i / 32768) + "\n";
        }
        const std::string text = unique + unique;
        auto start = std::chrono::steady_clock::now();
        text::Vocabulary vocabulary(text);
        auto read = std::chrono::steady_clock::now();
        const bool written = vocabulary.writeTermsFile().has_value();
        auto file = std::chrono::steady_clock::now();
        const auto kept = speech::ModelFiles::spellableTerms(unique, pieces).size();
        auto spelled = std::chrono::steady_clock::now();
        using ms = std::chrono::duration<double, std::milli>;
        std::printf("%-8u %12.0f %12.0f %12.0f%s\n", count, ms(read - start).count(), ms(file - read).count(),
                    ms(spelled - file).count(),
                    vocabulary.terms.size() == count && written && kept == count ? "" : "  (wrong result)");
    }
    std::filesystem::remove_all(folder);
}

void print(const std::string& name, Figure figure) {
    std::printf("%-20s %9.1f us/call wall, %9.1f us/call cpu\n", name.c_str(), figure.wall, figure.cpu);
}

} // namespace

int main(int argc, char** argv) {
    int calls = argc > 1 ? std::atoi(argv[1]) : 500;
    if (calls <= 0) {
        std::fprintf(stderr, "usage: bench_text [calls]\n");
        return 2;
    }
    const std::string input = sampleText();
    const text::Vocabulary vocabulary = sampleVocabulary();

    // First use builds the shared expressions; keep it out of the figures.
    std::string cleaned = text::Transcript::cleanLocally(input);
    std::string replaced = vocabulary.apply(cleaned);
    bool correction = text::Transcript::needsAI(replaced);

    size_t sink = 0;
    auto clean = microsecondsPerCall(calls, [&] { sink += text::Transcript::cleanLocally(input).size(); });
    auto apply = microsecondsPerCall(calls, [&] { sink += vocabulary.apply(cleaned).size(); });
    auto detect = microsecondsPerCall(calls, [&] { sink += text::Transcript::needsAI(replaced) ? 1 : 0; });
    auto whole = microsecondsPerCall(calls, [&] {
        auto text = vocabulary.apply(text::Transcript::cleanLocally(input));
        sink += text.size() + (text::Transcript::needsAI(text) ? 1 : 0);
    });

    std::printf("input: %zu bytes, %zu replacements, self-correction: %s, %d calls each\n", input.size(),
                vocabulary.replacements.size(), correction ? "yes" : "no", calls);
    print("cleanLocally", clean);
    print("apply", apply);
    print("needsAI", detect);
    print("all three", whole);
    std::printf("goal: all three under 1000 us/call\n");
    bigDictionaries();
    return sink == 0 ? 1 : 0;
}
