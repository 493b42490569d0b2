#include "DictationHarness.h"

#include "support/LoopbackServer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>

using Lines = std::vector<std::string>;

TEST(DictationController, AHoldBecomesInsertedTextAndEndsIdle) {
    DictationHarness h;
    h.caret.before = "a";
    h.controller->pressed();
    EXPECT_EQ(h.take(), (Lines{"tag -", "recording"}));
    h.speak();
    ASSERT_TRUE(h.settle([&] { return !h.overlay.levels.empty(); })) << "levels reach the pill";
    h.time.advance(0.14);
    EXPECT_TRUE(h.log.empty());
    h.time.advance(0.01);
    EXPECT_EQ(h.take(), (Lines{"listening"}));

    h.time.advance(1.0);
    h.controller->released();
    EXPECT_TRUE(h.logged("thinking"));
    ASSERT_TRUE(h.finished());
    EXPECT_EQ(h.take(), (Lines{"thinking", "idle", "hide"}));
    EXPECT_EQ(h.inserted(), (Lines{" Слово3"})) << "joined, cleaned, with the leading space after a letter";
    EXPECT_EQ(h.controller->history(), (Lines{"Слово3"}));

    // The watchdog of a finished dictation does nothing.
    h.time.advance(300);
    EXPECT_TRUE(h.log.empty());
}

TEST(DictationController, ShortHoldsInsertNothingAndAPressWhileProcessingIsIgnored) {
    DictationHarness h;
    // A tap shorter than the listening delay never shows the pill.
    h.controller->pressed();
    h.time.advance(0.1);
    h.controller->released();
    EXPECT_EQ(h.take(), (Lines{"tag -", "recording", "idle", "hide"}));
    h.time.advance(200); // neither the listening pill nor the automatic release of the old press
    EXPECT_TRUE(h.log.empty());

    // A 0.2 s hold shows the listening pill briefly, then hides it; 0.31 s is long enough.
    EXPECT_EQ(h.dictate(0.3f, 0.2), (Lines{"idle", "hide"}));
    EXPECT_TRUE(h.inserted().empty());
    EXPECT_EQ(h.dictate(0.4f, 0.31), (Lines{"thinking", "idle", "hide"}));
    EXPECT_EQ(h.inserted(), (Lines{"Слово4"}));

    // Recognition that takes a while: a second press and its release meanwhile change nothing.
    std::promise<void> go;
    std::shared_future<void> gate = go.get_future().share();
    h.model.made->textFor = [gate](const std::vector<float>&) {
        gate.wait();
        return std::string("первое");
    };
    h.controller->pressed();
    h.speak();
    h.time.advance(1);
    h.controller->released();
    h.take();
    h.controller->pressed();
    h.time.advance(1);
    h.controller->released();
    EXPECT_TRUE(h.log.empty());
    go.set_value();
    ASSERT_TRUE(h.finished());
    EXPECT_EQ(h.inserted().back(), "Первое");
}

TEST(DictationController, TheWatchdogEndsTheDictationAndALateResultIsDiscarded) {
    DictationHarness h;
    std::promise<void> go;
    std::shared_future<void> gate = go.get_future().share();
    h.model.made->textFor = [gate](const std::vector<float>& samples) {
        gate.wait();
        return samples.size() > 8000 ? std::string("поздно") : std::string();
    };
    h.controller->pressed();
    h.speak();
    h.time.advance(1);
    h.controller->released();
    h.take();
    h.time.advance(19.9);
    EXPECT_TRUE(h.log.empty());
    h.time.advance(0.1);
    EXPECT_EQ(h.take(), (Lines{"idle", "flash Не получилось распознать 2.4"}));
    go.set_value();
    h.model.made->queue().sync([] {});
    h.settle([] { return true; });
    h.time.advance(1);
    EXPECT_TRUE(h.log.empty());
    EXPECT_TRUE(h.inserted().empty());
    EXPECT_TRUE(h.controller->history().empty());

    // Presets that rewrite wait for the AI's own timeout and ten seconds more.
    std::promise<void> later;
    std::shared_future<void> held = later.get_future().share();
    h.model.made->textFor = [held](const std::vector<float>&) {
        held.wait();
        return std::string();
    };
    text::styles::setSaved(h.settings, text::Style::business);
    h.controller->pressed();
    h.time.advance(1);
    h.take();
    h.controller->released();
    h.time.advance(39.9);
    EXPECT_EQ(h.take(), (Lines{"thinking"}));
    h.time.advance(0.1);
    EXPECT_EQ(h.take(), (Lines{"idle", "flash Не получилось распознать 2.4"}));
    later.set_value();
}

TEST(DictationController, TheLongestHoldReleasesByItselfAnInterruptionAbandonsAllAndALostMicrophoneKeepsTheText) {
    DictationHarness h;
    h.controller->pressed();
    h.speak();
    h.time.advance(179.9);
    EXPECT_FALSE(h.logged("thinking"));
    h.time.advance(0.1);
    EXPECT_TRUE(h.logged("thinking"));
    h.controller->released(); // the key let go afterwards
    ASSERT_TRUE(h.finished());
    EXPECT_EQ(h.inserted(), (Lines{"Слово3"}));

    // An interruption while recording, then one while processing: nothing is inserted, nothing said.
    h.take();
    h.controller->pressed();
    h.speak();
    h.time.advance(1);
    h.controller->cancel();
    EXPECT_EQ(h.take(), (Lines{"tag -", "recording", "listening", "idle", "hide"}));
    h.controller->pressed();
    h.speak();
    h.time.advance(1);
    h.controller->released();
    h.controller->cancel();
    h.model.made->queue().sync([] {});
    h.settle([] { return true; });
    h.time.advance(60);
    EXPECT_EQ(h.inserted(), (Lines{"Слово3"}));
    EXPECT_EQ(h.controller->history().size(), 1u);

    // The microphone goes away: what was heard is pasted and the loss is said; after a tap it is only said.
    h.controller->pressed();
    h.speak(0.5f);
    h.time.advance(1);
    h.take();
    h.microphone->lose();
    ASSERT_TRUE(h.finished());
    EXPECT_EQ(h.take(), (Lines{"thinking", "idle", "hide", "flash Микрофон отключился 2.4"}));
    EXPECT_EQ(h.inserted().back(), "Слово5");
    h.controller->pressed();
    h.microphone->lose();
    h.time.run();
    EXPECT_EQ(h.take(), (Lines{"tag -", "recording", "idle", "flash Микрофон отключился 2.4"}));
}

TEST(DictationController, KeepsTheTenNewestAndSaysWhyTextIsMissingOrAsSpoken) {
    DictationHarness h;
    for (int i = 1; i <= 11; ++i)
        h.dictate(static_cast<float>(i % 9 + 1) / 10.0f);
    ASSERT_EQ(h.controller->history().size(), 10u);
    EXPECT_EQ(h.controller->history().front(), "Слово3");
    EXPECT_EQ(h.controller->history().back(), "Слово3") << "the second dictation, level 0.3";

    // Silence: nothing heard.
    EXPECT_EQ(h.dictate(0.0f), (Lines{"thinking", "idle", "flash Не расслышал 2.4"}));
    // A rewrite without a key for a service elsewhere (one that nothing leaves the machine for: an
    // IPv4-mapped address is not this machine by the rule), with a key over plain http there, then
    // with a key and no service.
    text::Preset::saveEnglish(h.settings, true);
    {
        testsupport::ScopedEnv elsewhere("RUVEX_VOICE_AI_URL", "https://[::ffff:127.0.0.1]:9");
        EXPECT_EQ(h.dictate().back(), "flash Нет ключа ИИ: вставил по-русски 3.5");
        h.keychain.setAiKey(std::string("sk-test"));
        testsupport::ScopedEnv plain("RUVEX_VOICE_AI_URL", "http://[::ffff:127.0.0.1]:9");
        EXPECT_EQ(h.dictate().back(), "flash Адрес ИИ без https: вставил по-русски 3.5");
    }
    text::Preset::saveEnglish(h.settings, false);
    text::styles::setSaved(h.settings, text::Style::natural);
    EXPECT_EQ(h.dictate().back(), "flash ИИ не ответил: вставил как сказано 3.5");
    EXPECT_EQ(h.inserted().back(), "Слово3");

    // A paste that could not be sent leaves the text on the clipboard and says so.
    text::styles::setSaved(h.settings, text::Style::asSpoken);
    h.keys.result = platform::KeySender::Result::failed;
    EXPECT_EQ(h.dictate().back(), "flash Не удалось вставить: текст в буфере обмена 3.5");
    h.time.advance(1);
    EXPECT_EQ(h.clipboard.contents(platform::Selection::clipboard).front().data, "Слово3");
}

TEST(DictationController, APostLongerThan280CharactersIsCountedAsTheReaderSeesIt) {
    DictationHarness h;
    testsupport::LoopbackServer service;
    testsupport::ScopedEnv url("RUVEX_VOICE_AI_URL", service.url());
    h.keychain.setAiKey(std::string("sk-test"));
    text::Preset::saveEnglish(h.settings, true);
    // Long enough a dictation for a long post (a rewrite may be three times as long, and 200 more).
    h.model.made->textFor = [](const std::vector<float>& samples) {
        return samples.size() > 8000 ? std::string(100, 'a') : std::string();
    };
    // "é" as e + a combining accent is one character but two code points.
    std::string accented;
    for (int i = 0; i < 281; ++i)
        accented += "e\xCC\x81";
    service.setRespond(testsupport::LoopbackServer::reply(accented));
    EXPECT_EQ(h.dictate().back(), "flash Пост длиннее 280 знаков: 281 3");
    EXPECT_EQ(h.inserted().back(), accented);
    service.setRespond(testsupport::LoopbackServer::reply(std::string(280, 'a')));
    EXPECT_EQ(h.dictate().back(), "hide");
}

TEST(DictationController, PresetAtThePressAiSwitchAndDictionaryAtTheRelease) {
    DictationHarness h;
    testsupport::LoopbackServer service;
    testsupport::ScopedEnv url("RUVEX_VOICE_AI_URL", service.url());
    h.keychain.setAiKey(std::string("sk-test"));
    service.setRespond(testsupport::LoopbackServer::reply("купи четыре"));
    h.model.made->textFor = [](const std::vector<float>& samples) {
        return samples.size() > 8000 ? std::string("купи три нет четыре") : std::string();
    };

    text::Preset::saveEnglish(h.settings, true);
    h.controller->pressed();
    EXPECT_TRUE(h.logged("tag EN"));
    text::Preset::saveEnglish(h.settings, false);
    h.settings.setBoolean("aiCleanup", false);
    h.speak();
    h.time.advance(1);
    h.controller->released();
    ASSERT_TRUE(h.finished());
    ASSERT_EQ(service.chatRequests().size(), 1u) << "the English rewrite of the press";

    // With the switch off a self-correction stays local; anything but a boolean reads as on.
    h.dictate();
    EXPECT_EQ(service.chatRequests().size(), 1u);
    EXPECT_EQ(h.inserted().back(), "Купи три нет четыре");
    h.settings.setString("aiCleanup", "no");
    h.controller->dictionarySaved("четыре → 4\n");
    h.dictate();
    EXPECT_EQ(service.chatRequests().size(), 2u);
    EXPECT_EQ(h.inserted().back(), "купи 4") << "the answer gets the dictionary in force at the release";
}

TEST(DictationController, APressWithoutEngineOrMicrophoneSaysWhyAndStartsNothing) {
    DictationHarness h(false);
    auto refuse = [&] {
        h.take();
        h.controller->pressed();
        h.time.advance(1);
        h.controller->released();
        EXPECT_EQ(h.log.size(), 1u);
        return h.log.empty() ? std::string() : h.log.front();
    };
    h.model.current = speech::ModelState::missing();
    EXPECT_EQ(refuse(), "flash Модель речи загружается… 2.4");
    h.model.current = speech::ModelState::downloading(0.427);
    EXPECT_EQ(refuse(), "flash Модель речи скачивается: 42% 2.4");
    h.model.current = speech::ModelState::failed("нет сети");
    EXPECT_EQ(refuse(), "flash Модель речи не скачалась: повторите из меню 2.4");
    h.model.failLoad = true;
    h.load(false);
    EXPECT_EQ(refuse(), "flash Модель речи не загрузилась 2.4");

    h.model.failLoad = false;
    h.load(false);
    h.microphoneWorks = false;
    EXPECT_EQ(refuse(), "flash Нет доступа к микрофону 2.4");
    h.take();
    h.time.advance(200);
    EXPECT_TRUE(h.log.empty());
    h.microphoneWorks = true;
    h.dictate();
    EXPECT_EQ(h.inserted(), (Lines{"Слово3"}));
}

TEST(DictationController, CallbacksOfAGoneControllerDoNothing) {
    DictationHarness h;
    h.controller->pressed();
    h.speak();
    h.time.advance(1);
    h.controller->released();
    h.controller.reset();
    h.model.made->queue().sync([] {});
    h.settle([] { return true; });
    h.time.advance(300);
    EXPECT_EQ(h.log, (Lines{"tag -", "recording", "listening", "thinking"}));
    EXPECT_TRUE(h.inserted().empty());
}

TEST(EngineLoading, VerifiedOffTheMainThreadAndAFailedReloadKeepsTheEngine) {
    DictationHarness h(false);
    std::vector<bool> outcomes;
    h.controller->onEngineLoaded = [&](bool loaded) {
        outcomes.push_back(loaded);
        ++h.loaded;
    };
    h.model.intact = false;
    ASSERT_TRUE(h.load(false));
    EXPECT_FALSE(h.controller->engineLoaded());
    EXPECT_EQ(h.controller->engineError(), "Модель речи не загрузилась");

    h.model.intact = true;
    ASSERT_TRUE(h.load(false));
    ASSERT_TRUE(h.controller->engineLoaded());
    EXPECT_FALSE(h.controller->engineError());
    EXPECT_EQ(h.model.loads.back(), std::nullopt) << "no terms: no hotwords file";
    h.controller->loadEngine(false); // an engine in place is kept
    EXPECT_EQ(h.model.loads.size(), 2u);

    h.model.failLoad = true;
    ASSERT_TRUE(h.load(true));
    EXPECT_TRUE(h.controller->engineLoaded());
    EXPECT_EQ(outcomes, (std::vector<bool>{false, true, false}));
    h.model.failLoad = false;
    h.dictate();
    EXPECT_EQ(h.inserted(), (Lines{"Слово3"})) << "dictation goes on with the old engine";
}

TEST(EngineLoading, ASavedDictionaryReloadsOnlyForNewTermsAndAFailedSaveKeepsTheOld) {
    DictationHarness h;
    h.controller->dictionarySaved("Ruvex\n");
    EXPECT_EQ(h.take(), (Lines{"flash Словарь сохранен 2.4"}));
    EXPECT_EQ(testsupport::readFile(text::Vocabulary::file()), "Ruvex\n");
    ASSERT_TRUE(h.settle([&] { return h.loaded == 2; }));
    ASSERT_TRUE(h.model.loads.back());
    EXPECT_EQ(testsupport::readFile(*h.model.loads.back()), "Ruvex\n");

    // Replacements alone are applied to text: no reload; nor before the model is there.
    h.controller->dictionarySaved("Ruvex\nв гид → в Git\n");
    h.model.current = speech::ModelState::downloading(0.5);
    h.controller->dictionarySaved("Ruvex\nВальмо Фонд\n");
    EXPECT_EQ(h.controller->vocabulary().terms.size(), 2u);
    h.settle([] { return true; });
    EXPECT_EQ(h.model.loads.size(), 2u);

    // A file where the dictionary's folder should be.
    h.take();
    std::filesystem::remove_all(text::Vocabulary::file().parent_path());
    std::ofstream(text::Vocabulary::file().parent_path()) << "not a folder";
    h.controller->dictionarySaved("Другое\n");
    EXPECT_EQ(h.take(), (Lines{"flash Словарь не сохранился: вместо папки словаря лежит файл 2.4"}));
    EXPECT_EQ(h.controller->vocabulary().terms.size(), 2u);

    // The model's states: a failure is said, ready loads (once).
    h.controller->modelStateChanged(speech::ModelState::failed("нет сети"));
    EXPECT_EQ(h.take(), (Lines{"flash Модель речи не скачалась: нет сети 4"}));
}
