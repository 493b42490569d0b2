#include "speech/Engine.h"
#include "ModelTesting.h"
#include "Tones.h"
#include "speech/ModelFiles.h"
#include "speech/OnnxModel.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using modeltesting::ambiguousWord;
using modeltesting::decode;
using modeltesting::engineOutcomeInChild;
using modeltesting::ScopedEnv;
using speech::Engine;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

const char* const vocabVariable = "RUVEX_VOICE_BPE_VOCAB";

TEST(Engine, DecodesPhrasesWithGreedySearchAndTrimsTheText) {
    ScopedEnv noVocab(vocabVariable, std::nullopt);
    Engine engine(tones::modelDirectory(), std::nullopt);
    EXPECT_FALSE(engine.usesTerms());
    EXPECT_EQ(engine.queue().label(), "ruvex.voice.engine");
    EXPECT_EQ(decode(engine, tones::phrase("привет мир")), "привет мир");
    EXPECT_EQ(decode(engine, tones::phrase("съешь же ещё этих мягких французских булок , да выпей чаю . ёж ? юла !")),
              "съешь же ещё этих мягких французских булок, да выпей чаю. ёж? юла!");
    EXPECT_EQ(decode(engine, tones::phrase("ааа ббб аа ннн осс")), "ааа ббб аа ннн осс");
    // The library keeps the trailing word mark as a space; the engine trims it.
    EXPECT_EQ(decode(engine, tones::phrase("да_")), "да");
    EXPECT_EQ(decode(engine, tones::silence(0.3)), "");
    EXPECT_EQ(decode(engine, {}), "");
}

TEST(Engine, TermsFlipAnAmbiguousWordOnlyWithABpeVocabulary) {
    TempDir dir;
    writeFile(dir / "terms.txt", "дон\n");
    struct Case {
        const char* what;
        std::optional<std::string> vocab;
        std::optional<std::filesystem::path> terms;
        std::string heard;
    };
    const Case cases[] = {
        {"no terms", std::nullopt, std::nullopt, "дом"},
        // An empty variable is used as it is: no vocabulary, so the terms are not used.
        {"empty variable", std::string(), dir / "terms.txt", "дом"},
        {"vocabulary given", (tones::modelDirectory() / "bpe.vocab").string(), dir / "terms.txt", "дон"},
        // Nothing given: a vocabulary is made from the model's tokens beside the terms file.
        {"vocabulary made", std::nullopt, dir / "terms.txt", "дон"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedEnv vocab(vocabVariable, c.vocab);
        Engine engine(tones::modelDirectory(), c.terms);
        EXPECT_EQ(engine.usesTerms(), c.heard == "дон");
        EXPECT_EQ(decode(engine, ambiguousWord()), c.heard);
        EXPECT_EQ(decode(engine, tones::phrase("привет мир")), "привет мир");
    }
    auto tokens = speech::ModelFiles::readTokens(tones::modelDirectory() / "tokens.txt");
    EXPECT_EQ(readFile(dir / "bpe.vocab"), speech::ModelFiles::bpeVocabFor(*tokens));
}

TEST(Engine, LeavesOutTermsTheModelCannotSpellAndKeepsTheRest) {
    ScopedEnv noVocab(vocabVariable, std::nullopt);
    TempDir dir;
    // Unspellable terms would shrink to a bare word mark and disable "дон"; a word that looks
    // like a score would make the library abort.
    writeFile(dir / "terms.txt", "hello\nДОН\nулыбка :)\nдон\n");
    Engine engine(tones::modelDirectory(), dir / "terms.txt");
    EXPECT_TRUE(engine.usesTerms());
    EXPECT_EQ(decode(engine, ambiguousWord()), "дон");
    EXPECT_EQ(readFile(dir / "terms.txt"), "hello\nДОН\nулыбка :)\nдон\n") << "the user's terms file is left alone";

    writeFile(dir / "none.txt", "hello\nДОН\n");
    Engine greedy(tones::modelDirectory(), dir / "none.txt");
    EXPECT_FALSE(greedy.usesTerms()) << "no term left: plain greedy search";
    EXPECT_EQ(decode(greedy, ambiguousWord()), "дом");
}

TEST(Engine, MissingOrDamagedModelFilesFailWithoutEndingTheProcess) {
    ScopedEnv noVocab(vocabVariable, std::nullopt);
    TempDir dir;
    try {
        Engine engine(dir / "nowhere", std::nullopt);
        FAIL() << "loaded from nothing";
    } catch (const Engine::Failure& failure) {
        EXPECT_STREQ(failure.what(), "Модель речи не загрузилась");
        EXPECT_EQ(failure.which, Engine::Failure::load);
    }

    auto half = [](const char* name) {
        std::string whole = readFile(tones::modelDirectory() / name);
        return whole.substr(0, whole.size() / 2);
    };
    std::string tokens = readFile(tones::modelDirectory() / "tokens.txt");
    std::string unknown = readFile(tones::faultsDirectory() / "encoder-unknown-operator.onnx");
    auto parsed = speech::OnnxModel::parse(unknown);
    ASSERT_TRUE(parsed && speech::ModelFiles::encoderFits(parsed->metadata, 40))
        << "an encoder only the runtime refuses must pass the checks, so that creation itself is exercised";
    // One case for each check before creation, and for the library's own failures: each would end
    // the process inside the library if the checks let it through.
    std::string encoder = readFile(tones::modelDirectory() / "encoder.int8.onnx");
    std::string decoder = readFile(tones::modelDirectory() / "decoder.onnx");
    std::string joiner = readFile(tones::modelDirectory() / "joiner.onnx");
    using Damage = std::vector<std::pair<std::string, std::optional<std::string>>>;
    const Damage damages[] = {
        {{"encoder.int8.onnx", std::nullopt}},
        {{"decoder.onnx", half("decoder.onnx")}},
        {{"joiner.onnx", half("joiner.onnx")}},
        {{"tokens.txt", std::nullopt}},
        {{"encoder.int8.onnx", half("encoder.int8.onnx")}},
        {{"encoder.int8.onnx", decoder}},
        {{"encoder.int8.onnx", unknown}},
        {{"tokens.txt", tokens.substr(0, tokens.find("<blk>"))}},
        {{"tokens.txt", tokens + "x 40\n"}},
        {{"decoder.onnx", joiner}, {"joiner.onnx", decoder}},
        {{"joiner.onnx", encoder}},
        {{"decoder.onnx", encoder}},
        {{"encoder.int8.onnx", readFile(tones::faultsDirectory() / "encoder-damaged-constant.onnx")}},
    };
    auto whole = dir / "whole";
    tones::copyModel(whole);
    ASSERT_EQ(engineOutcomeInChild(whole), 1) << "an undamaged copy loads";
    int index = 0;
    for (const auto& damage : damages) {
        auto model = dir / std::to_string(index++);
        tones::copyModel(model);
        for (const auto& [file, contents] : damage) {
            if (contents) {
                writeFile(model / file, *contents);
            } else {
                std::filesystem::remove(model / file);
            }
        }
        EXPECT_EQ(engineOutcomeInChild(model), 0) << "case " << index - 1 << ": " << damage.front().first;
    }

    writeFile(dir / "terms.txt", "дон\n");
    {
        ScopedEnv good(vocabVariable, (tones::modelDirectory() / "bpe.vocab").string());
        ASSERT_EQ(engineOutcomeInChild(tones::modelDirectory(), dir / "terms.txt"), 1) << "a good vocabulary loads";
    }
    std::string vocab = readFile(tones::modelDirectory() / "bpe.vocab");
    writeFile(dir / "bad.vocab", vocab + "x\n");
    for (const auto& badVocab : {dir / "no.vocab", dir / "bad.vocab"}) {
        ScopedEnv given(vocabVariable, badVocab.string());
        EXPECT_EQ(engineOutcomeInChild(tones::modelDirectory(), dir / "terms.txt"), 0) << badVocab;
    }
}

TEST(Engine, APieceTheModelFailsOnIsAnEmptyPieceAndALogLine) {
    ScopedEnv noVocab(vocabVariable, std::nullopt);
    TempDir dir;
    tones::copyModel(dir.path());
    // Passes every check and decodes silence; fails inside the runtime once a token is due.
    std::filesystem::copy_file(tones::faultsDirectory() / "joiner-fails-on-speech.onnx", dir / "joiner.onnx",
                               std::filesystem::copy_options::overwrite_existing);
    Engine engine(dir.path(), std::nullopt);
    testing::internal::CaptureStderr();
    EXPECT_EQ(decode(engine, tones::phrase("привет")), "");
    std::string log = testing::internal::GetCapturedStderr();
    const std::string line = "ruvex-voice: кусок речи не распознан: ";
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_EQ(log.find(line), log.rfind(line)) << "one line per piece";
    EXPECT_EQ(decode(engine, tones::silence(0.3)), "") << "the engine goes on";
}

} // namespace
