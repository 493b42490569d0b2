// Times the local text path of one dictation: cleanup, a 30-rule dictionary and the
// self-correction test, on about 2 KB of Russian text. Prints microseconds per call.
#include "text/Transcript.h"
#include "text/Vocabulary.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

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
    return sink == 0 ? 1 : 0;
}
