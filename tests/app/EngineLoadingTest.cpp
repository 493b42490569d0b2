#include "DictationHarness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

using Lines = std::vector<std::string>;

namespace {
struct Unloaded : DictationHarness {
    Unloaded() { controller->engine.reset(); }
};
} // namespace

TEST(EngineLoading, LoadsOffTheMainThreadAfterVerifyingTheModel) {
    Unloaded h;
    h.controller->loadEngine(false);
    EXPECT_TRUE(h.builds.empty()); // nothing slow on the main thread
    ASSERT_EQ(h.backgroundWork.size(), 1u);
    h.backgroundWork[0]();
    EXPECT_EQ(h.models.verifications, 1);
    ASSERT_EQ(h.builds.size(), 1u);
    EXPECT_EQ(h.builds[0].model, "/models/test");
    EXPECT_FALSE(h.builds[0].terms);    // no terms: no hotwords file
    EXPECT_FALSE(h.controller->engine); // the result is taken on the main thread
    h.time.run();
    ASSERT_TRUE(h.controller->engine);
    EXPECT_FALSE(h.controller->engineError);
    h.backgroundWork.clear();

    // Without reload an engine in place is kept.
    h.controller->loadEngine(false);
    EXPECT_TRUE(h.backgroundWork.empty());
}

TEST(EngineLoading, FailuresAreStoredAndAFailedReloadKeepsTheEngine) {
    Unloaded h;
    std::vector<bool> outcomes;
    h.controller->onEngineLoaded = [&](bool loaded) { outcomes.push_back(loaded); };
    h.nextBuild = []() -> std::shared_ptr<app::Recogniser> { throw std::runtime_error("Модель речи не загрузилась"); };
    h.controller->loadEngine(false);
    h.runBackground();
    EXPECT_FALSE(h.controller->engine);
    EXPECT_EQ(h.controller->engineError, "Модель речи не загрузилась");
    h.controller->pressed();
    EXPECT_EQ(h.takeLog(), (Lines{"flash Модель речи не загрузилась 2.4"}));

    // A damaged model is refused before the engine is built on it.
    h.models.intact = false;
    h.nextBuild = nullptr;
    h.controller->loadEngine(false);
    h.runBackground();
    EXPECT_EQ(h.builds.size(), 1u);
    EXPECT_EQ(h.controller->engineError, "Модель речи не загрузилась");

    h.models.intact = true;
    h.controller->loadEngine(false);
    h.runBackground();
    auto working = h.controller->engine;
    ASSERT_TRUE(working);
    EXPECT_FALSE(h.controller->engineError);

    h.nextBuild = []() -> std::shared_ptr<app::Recogniser> { throw std::runtime_error("Модель речи не загрузилась"); };
    h.controller->loadEngine(true);
    h.runBackground();
    EXPECT_EQ(h.controller->engine, working);
    h.controller->pressed();
    EXPECT_TRUE(h.controller->recorder); // dictation still works on the old engine
    EXPECT_EQ(outcomes, (std::vector<bool>{false, false, true, false}));
}

TEST(EngineLoading, SavingTheDictionaryReloadsOnlyForNewTerms) {
    Unloaded h;
    h.controller->loadEngine(false);
    h.runBackground();
    h.takeLog();

    h.controller->dictionarySaved("Ruvex\n");
    EXPECT_EQ(h.takeLog(), (Lines{"flash Словарь сохранен 2.4"}));
    EXPECT_EQ(testsupport::readFile(text::Vocabulary::file()), "Ruvex\n");
    EXPECT_EQ(h.controller->vocabulary.terms, (Lines{"Ruvex"}));
    h.runBackground();
    ASSERT_EQ(h.builds.size(), 2u);
    ASSERT_TRUE(h.builds[1].terms);
    EXPECT_EQ(testsupport::readFile(*h.builds[1].terms), "Ruvex\n");

    // Replacements alone are applied to text: no reload.
    h.controller->dictionarySaved("Ruvex\nв гид → в Git\n");
    EXPECT_TRUE(h.backgroundWork.empty());
    EXPECT_EQ(h.controller->vocabulary.replacements.size(), 1u);

    // New terms before the model is downloaded: nothing to reload yet.
    h.models.status = {app::ModelStatus::Kind::downloading, 0.5, ""};
    h.controller->dictionarySaved("Ruvex\nВальмо Фонд\n");
    EXPECT_TRUE(h.backgroundWork.empty());
    EXPECT_EQ(h.controller->vocabulary.terms.size(), 2u);
}

TEST(EngineLoading, ADictionaryThatCannotBeWrittenLeavesTheOldOneInForce) {
    Unloaded h;
    h.controller->dictionarySaved("Ruvex\n");
    h.takeLog();
    // A file where the dictionary's folder should be.
    std::filesystem::remove_all(text::Vocabulary::file().parent_path());
    std::ofstream(text::Vocabulary::file().parent_path()) << "not a folder";
    h.controller->dictionarySaved("Другое\n");
    EXPECT_EQ(h.takeLog(), (Lines{"flash Словарь не сохранился: вместо папки словаря лежит файл 2.4"}));
    EXPECT_EQ(h.controller->vocabulary.terms, (Lines{"Ruvex"}));
}

TEST(EngineLoading, ModelStateChanges) {
    Unloaded h;
    h.controller->modelStateChanged({app::ModelStatus::Kind::downloading, 0.3, ""});
    h.controller->modelStateChanged({app::ModelStatus::Kind::missing, 0, ""});
    EXPECT_TRUE(h.log.empty());
    EXPECT_TRUE(h.backgroundWork.empty());
    h.controller->modelStateChanged({app::ModelStatus::Kind::failed, 0, "нет сети"});
    EXPECT_EQ(h.takeLog(), (Lines{"flash Модель речи не скачалась: нет сети 4"}));
    h.controller->modelStateChanged({app::ModelStatus::Kind::ready, 0, ""});
    h.runBackground();
    EXPECT_TRUE(h.controller->engine);
}
