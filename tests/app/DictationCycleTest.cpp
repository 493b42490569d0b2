#include "DictationHarness.h"

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;

TEST(DictationCycle, AHoldBecomesInsertedTextAndEndsIdle) {
    DictationHarness h;
    h.controller->pressed();
    EXPECT_EQ(h.takeLog(), (Lines{"start recorder", "tag -", "glyph recording"}));
    EXPECT_EQ(h.controller->phrase, 1);

    // Samples reach this dictation's session, levels reach the pill.
    auto& recorder = *h.recorders.live.back();
    recorder.onSamples(std::vector<float>(320, 0.1f));
    recorder.onLevel(0.5f);
    EXPECT_EQ(h.lastSession().fed, 320u);
    EXPECT_EQ(h.overlay.levels, (std::vector<float>{0.5f}));

    h.time.advance(0.14);
    EXPECT_TRUE(h.log.empty());
    h.time.advance(0.01);
    EXPECT_EQ(h.takeLog(), (Lines{"listening"}));

    h.time.advance(1.0);
    h.controller->released();
    EXPECT_EQ(h.takeLog(), (Lines{"thinking", "stop recorder"}));
    EXPECT_TRUE(h.controller->thinking);
    ASSERT_TRUE(h.controller->recorder);

    h.recognise("ну привет мир");
    ASSERT_EQ(h.polishes.size(), 1u);
    EXPECT_EQ(h.polishes[0].text, "ну привет мир");
    EXPECT_TRUE(h.polishes[0].useAI);
    EXPECT_EQ(h.polishes[0].preset, text::Preset{});
    h.takeLog();

    h.polishes[0].completion("Привет мир.", false);
    EXPECT_EQ(h.takeLog(), (Lines{"glyph idle", "hide", "insert Привет мир."}));
    EXPECT_TRUE(h.idle());
    EXPECT_EQ(h.controller->history, (Lines{"Привет мир."}));

    // The watchdog of a finished dictation does nothing.
    h.time.advance(300);
    EXPECT_TRUE(h.log.empty());
}

TEST(DictationCycle, ShortHoldsInsertNothing) {
    DictationHarness h;
    // A tap shorter than the listening delay never shows the pill.
    h.controller->pressed();
    h.time.advance(0.1);
    h.controller->released();
    h.runStops();
    EXPECT_EQ(h.takeLog(), (Lines{"start recorder", "tag -", "glyph recording", "stop recorder", "glyph idle", "hide",
                                  "cancel session"}));
    EXPECT_TRUE(h.idle());
    h.time.advance(200); // neither the listening pill nor the automatic release of the old press
    EXPECT_TRUE(h.log.empty());

    // A 0.2 s hold shows the listening pill briefly, then hides it.
    h.controller->pressed();
    h.time.advance(0.2);
    h.controller->released();
    EXPECT_EQ(h.takeLog(), (Lines{"start recorder", "tag -", "glyph recording", "listening", "stop recorder",
                                  "glyph idle", "hide"}));
    EXPECT_TRUE(h.polishes.empty());
    EXPECT_TRUE(h.inserted.empty());
    EXPECT_TRUE(h.idle());

    // Just past the minimum hold is long enough.
    h.controller->pressed();
    h.time.advance(0.31);
    h.controller->released();
    EXPECT_TRUE(h.controller->thinking);
}

TEST(DictationCycle, APressWhileProcessingAndItsReleaseAreIgnored) {
    DictationHarness h;
    h.controller->pressed();
    h.time.advance(1);
    h.controller->released();
    h.takeLog();

    h.controller->pressed();
    h.time.advance(1);
    h.controller->released();
    EXPECT_TRUE(h.log.empty());
    EXPECT_EQ(h.controller->phrase, 1);
    EXPECT_EQ(h.recogniser->sessions.size(), 1u);

    h.recognise("текст");
    h.polishes.back().completion("Текст.", false);
    EXPECT_EQ(h.inserted, (Lines{"Текст."}));
}

TEST(DictationCycle, TheWatchdogEndsTheDictationAndALateResultIsDiscarded) {
    DictationHarness h;
    h.controller->pressed();
    h.time.advance(1);
    h.controller->released();
    h.recognise("текст");
    h.takeLog();
    h.time.advance(19.9);
    EXPECT_TRUE(h.log.empty());
    h.time.advance(0.1);
    EXPECT_EQ(h.takeLog(), (Lines{"glyph idle", "flash Не получилось распознать 2.4"}));
    EXPECT_TRUE(h.idle());

    h.polishes.back().completion("Поздний текст.", false);
    EXPECT_TRUE(h.log.empty());
    EXPECT_TRUE(h.controller->history.empty());

    // Presets that rewrite wait for the AI's own timeout and ten seconds more.
    text::styles::setSaved(text::Style::business);
    h.controller->pressed();
    h.time.advance(1);
    h.controller->released();
    h.takeLog();
    h.time.advance(39.9);
    EXPECT_TRUE(h.log.empty());
    h.time.advance(0.1);
    EXPECT_EQ(h.takeLog(), (Lines{"glyph idle", "flash Не получилось распознать 2.4"}));
}

TEST(DictationCycle, TheLongestHoldReleasesByItself) {
    DictationHarness h;
    h.controller->pressed();
    h.time.advance(179.9);
    EXPECT_FALSE(h.controller->thinking);
    h.time.advance(0.1);
    EXPECT_TRUE(h.controller->thinking);
    h.takeLog();
    h.controller->released(); // the key let go afterwards
    EXPECT_TRUE(h.log.empty());
    EXPECT_EQ(h.recorders.stops.size(), 1u);
    h.recognise("длинный текст");
    h.polishes.back().completion("Длинный текст.", false);
    EXPECT_EQ(h.inserted, (Lines{"Длинный текст."}));
}

TEST(DictationCycle, InterruptionAbandonsRecordingAndProcessing) {
    DictationHarness h;
    h.controller->pressed();
    h.time.advance(1);
    h.controller->cancel();
    h.runStops();
    EXPECT_EQ(h.takeLog(), (Lines{"start recorder", "tag -", "glyph recording", "listening", "stop recorder",
                                  "glyph idle", "hide", "cancel session"}));
    EXPECT_TRUE(h.idle());

    // During processing the pending result is discarded and the watchdog stays quiet.
    h.controller->pressed();
    h.time.advance(1);
    h.controller->released();
    h.recognise("текст");
    h.controller->cancel();
    h.takeLog();
    h.polishes.back().completion("Текст.", false);
    h.time.advance(60);
    EXPECT_TRUE(h.log.empty());
    EXPECT_TRUE(h.inserted.empty());
}

TEST(DictationCycle, HistoryKeepsTheTenNewest) {
    DictationHarness h;
    for (int i = 1; i <= 11; ++i)
        h.dictate("Текст " + std::to_string(i) + ".");
    ASSERT_EQ(h.controller->history.size(), 10u);
    EXPECT_EQ(h.controller->history.front(), "Текст 11.");
    EXPECT_EQ(h.controller->history.back(), "Текст 2.");
    EXPECT_EQ(h.controller->phrase, 11);
}

TEST(DictationCycle, EveryResultMessage) {
    DictationHarness h;
    h.dictate("");
    EXPECT_TRUE(h.logged("flash Не расслышал 2.4"));
    EXPECT_TRUE(h.inserted.empty());
    EXPECT_TRUE(h.controller->history.empty());
    h.takeLog();

    h.dictate("Как сказано.", true);
    EXPECT_EQ(h.log.back(), "flash Нет ключа ИИ: вставил как сказано 3.5");
    EXPECT_EQ(h.inserted.back(), "Как сказано.");

    h.keyStored = true;
    h.dictate("Как сказано.", true);
    EXPECT_EQ(h.log.back(), "flash ИИ не ответил: вставил как сказано 3.5");

    text::Preset::saveEnglish(true);
    h.dictate("По-русски.", true);
    EXPECT_EQ(h.log.back(), "flash ИИ не ответил: вставил по-русски 3.5");
    h.keyStored = false;
    h.dictate("По-русски.", true);
    EXPECT_EQ(h.log.back(), "flash Нет ключа ИИ: вставил по-русски 3.5");

    // An English post is counted in user-perceived characters: "é" written as e + a combining accent
    // is one character but two code points.
    std::string accented;
    for (int i = 0; i < 281; ++i)
        accented += "e\xCC\x81";
    h.takeLog();
    h.dictate(accented);
    EXPECT_EQ(h.log.back(), "flash Пост длиннее 280 знаков: 281 3");
    EXPECT_EQ(h.inserted.back(), accented);

    h.takeLog();
    h.dictate(std::string(280, 'a'));
    EXPECT_EQ(h.log.back(), "insert " + std::string(280, 'a'));

    // Long Russian text is no post and gets no message.
    text::Preset::saveEnglish(false);
    h.takeLog();
    h.dictate(std::string(300, 'a'));
    EXPECT_EQ(h.log.back(), "insert " + std::string(300, 'a'));
}

TEST(DictationCycle, ThePresetIsTakenAtThePressAndAiCleanupAtTheRelease) {
    DictationHarness h;
    text::Preset::saveEnglish(true);
    h.controller->pressed();
    EXPECT_TRUE(h.logged("tag EN"));
    text::Preset::saveEnglish(false);
    text::styles::setSaved(text::Style::friendly);
    core::Defaults::standard().setBoolean("aiCleanup", false);
    h.time.advance(1);
    h.controller->released();
    h.recognise("текст");
    EXPECT_EQ(h.polishes.back().preset, (text::Preset{text::Style::asSpoken, true}));
    EXPECT_FALSE(h.polishes.back().useAI);
    h.polishes.back().completion("Text.", false);

    // Anything but a boolean under "aiCleanup" reads as true.
    core::Defaults::standard().setString("aiCleanup", "no");
    h.dictate("Текст.");
    EXPECT_TRUE(h.polishes.back().useAI);
    EXPECT_EQ(h.polishes.back().preset, (text::Preset{text::Style::friendly, false}));
}

TEST(DictationCycle, TheDictionaryInForceAtReleaseGoesToThePolisher) {
    DictationHarness h;
    h.controller->vocabulary = text::Vocabulary("в гид → в Git\n");
    h.dictate("Текст.");
    ASSERT_EQ(h.polishes.back().vocabulary.replacements.size(), 1u);
    EXPECT_EQ(h.polishes.back().vocabulary.replacements[0].written, "в Git");
}

TEST(DictationCycle, APressWithoutEngineSaysWhyAndStartsNothing) {
    DictationHarness h;
    h.controller->engine.reset();
    auto refuse = [&] {
        h.takeLog();
        h.controller->pressed();
        h.time.advance(1);
        h.controller->released();
        EXPECT_TRUE(h.recorders.live.empty());
        EXPECT_EQ(h.controller->phrase, 0);
        EXPECT_EQ(h.log.size(), 1u);
        return h.log.empty() ? std::string() : h.log.front();
    };
    h.models.status = {app::ModelStatus::Kind::missing, 0, ""};
    EXPECT_EQ(refuse(), "flash Модель речи загружается… 2.4");
    h.models.status = {app::ModelStatus::Kind::ready, 0, ""};
    EXPECT_EQ(refuse(), "flash Модель речи загружается… 2.4");
    h.models.status = {app::ModelStatus::Kind::downloading, 0.427, ""};
    EXPECT_EQ(refuse(), "flash Модель речи скачивается: 42% 2.4");
    h.models.status = {app::ModelStatus::Kind::downloading, 0.0, ""};
    EXPECT_EQ(refuse(), "flash Модель речи скачивается: 0% 2.4");
    h.models.status = {app::ModelStatus::Kind::failed, 0, "нет сети"};
    EXPECT_EQ(refuse(), "flash Модель речи не скачалась: повторите из меню 2.4");
    h.controller->engineError = "Модель речи не загрузилась";
    EXPECT_EQ(refuse(), "flash Модель речи не загрузилась 2.4");

    // An interruption after a refused press puts the glyph back and hides the message.
    h.takeLog();
    h.controller->cancel();
    EXPECT_EQ(h.takeLog(), (Lines{"glyph idle", "hide"}));
}

TEST(DictationCycle, AMicrophoneThatWillNotStartLeavesTheControllerIdle) {
    DictationHarness h;
    h.recorders.failStart = true;
    h.controller->pressed();
    EXPECT_EQ(h.takeLog(), (Lines{"cancel session", "flash Нет доступа к микрофону 2.4"}));
    EXPECT_TRUE(h.idle());
    EXPECT_EQ(h.controller->phrase, 0);
    h.time.advance(200);
    EXPECT_TRUE(h.log.empty());

    h.recorders.failStart = false;
    h.dictate("Текст.");
    EXPECT_EQ(h.inserted, (Lines{"Текст."}));
}

TEST(DictationCycle, CallbacksOfAGoneControllerDoNothing) {
    DictationHarness h;
    h.controller->pressed();
    h.time.advance(1);
    h.controller->released();
    h.recognise("текст");
    h.controller.reset();
    h.takeLog();
    h.polishes.back().completion("Текст.", false);
    h.time.advance(300);
    EXPECT_TRUE(h.log.empty());
}
