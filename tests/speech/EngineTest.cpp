#include "speech/Engine.h"
#include "ModelTesting.h"
#include "Tones.h"
#include "speech/ModelFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using modeltesting::decode;
using modeltesting::engineOutcomeInChild;
using modeltesting::ScopedEnv;
using speech::Engine;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

const char* const vocabVariable = "RUVEX_VOICE_BPE_VOCAB";

// "до" and then a tone between "м" and "н", closer to "м": greedy hears "дом"; a hotword "дон"
// is strong enough to flip it in beam search.
tones::Samples ambiguousWord() {
    tones::Samples audio = tones::silence(0.1);
    for (double at : {tones::position("▁"), tones::position("д"), tones::position("о"), tones::position("м") + 0.4}) {
        tones::append(audio, tones::tone(at));
        tones::append(audio, tones::silence(0.06));
    }
    tones::append(audio, tones::silence(0.2));
    return audio;
}

std::filesystem::path termsFile(const TempDir& dir, const std::string& contents) {
    auto file = dir / "terms.txt";
    writeFile(file, contents);
    return file;
}

std::string varint(uint64_t value) {
    std::string out;
    do {
        unsigned char byte = value & 0x7f;
        value >>= 7;
        out += static_cast<char>(value != 0 ? byte | 0x80 : byte);
    } while (value != 0);
    return out;
}

std::string lengthDelimited(uint64_t field, const std::string& body) {
    return varint(field << 3 | 2) + varint(body.size()) + body;
}

// Well-formed at the top level with the loader's metadata, but the graph inside is garbage:
// only the runtime's parser notices, and it throws through the library.
std::string garbledEncoder() {
    std::string model = "\x08\x08" + lengthDelimited(7, std::string(64, '\xff'));
    auto metadata = speech::ModelFiles::readOnnxMetadata(tones::modelDirectory() / "encoder.int8.onnx");
    for (const auto& [key, value] : *metadata) {
        model += lengthDelimited(14, lengthDelimited(1, key) + lengthDelimited(2, value));
    }
    return model;
}

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
    auto terms = termsFile(dir, "дон\n");
    {
        ScopedEnv noVocab(vocabVariable, std::nullopt);
        Engine plain(tones::modelDirectory(), std::nullopt);
        EXPECT_EQ(decode(plain, ambiguousWord()), "дом");
    }
    {
        // An empty variable is used as it is: no vocabulary, so the terms are not used.
        ScopedEnv empty(vocabVariable, std::string());
        Engine engine(tones::modelDirectory(), terms);
        EXPECT_FALSE(engine.usesTerms());
        EXPECT_EQ(decode(engine, ambiguousWord()), "дом");
    }
    {
        ScopedEnv given(vocabVariable, (tones::modelDirectory() / "bpe.vocab").string());
        Engine engine(tones::modelDirectory(), terms);
        EXPECT_TRUE(engine.usesTerms());
        EXPECT_EQ(decode(engine, ambiguousWord()), "дон");
        EXPECT_EQ(decode(engine, tones::phrase("привет мир")), "привет мир");
    }
    {
        // Nothing given: a vocabulary is made from the model's tokens beside the terms file.
        ScopedEnv noVocab(vocabVariable, std::nullopt);
        Engine engine(tones::modelDirectory(), terms);
        EXPECT_TRUE(engine.usesTerms());
        EXPECT_EQ(decode(engine, ambiguousWord()), "дон");
        auto tokens = speech::ModelFiles::readTokens(tones::modelDirectory() / "tokens.txt");
        EXPECT_EQ(readFile(dir / "bpe.vocab"), speech::ModelFiles::bpeVocabFor(*tokens));
    }
}

TEST(Engine, LeavesOutTermsTheModelCannotSpellAndKeepsTheRest) {
    ScopedEnv noVocab(vocabVariable, std::nullopt);
    TempDir dir;
    // Unspellable terms would shrink to a bare word mark and disable "дон"; a word that looks
    // like a score would make the library abort.
    auto terms = termsFile(dir, "hello\nДОН\nулыбка :)\nдон\n");
    Engine engine(tones::modelDirectory(), terms);
    EXPECT_TRUE(engine.usesTerms());
    EXPECT_EQ(decode(engine, ambiguousWord()), "дон");
    EXPECT_EQ(readFile(terms), "hello\nДОН\nулыбка :)\nдон\n") << "the user's terms file is left alone";

    auto none = termsFile(dir, "hello\nДОН\n");
    Engine greedy(tones::modelDirectory(), none);
    EXPECT_FALSE(greedy.usesTerms()) << "no term left: plain greedy search";
    EXPECT_EQ(decode(greedy, ambiguousWord()), "дом");
}

TEST(Engine, FailsToLoadFromMissingFiles) {
    ScopedEnv noVocab(vocabVariable, std::nullopt);
    TempDir dir;
    try {
        Engine engine(dir / "nowhere", std::nullopt);
        FAIL() << "loaded from nothing";
    } catch (const Engine::Failure& failure) {
        EXPECT_STREQ(failure.what(), "Модель речи не загрузилась");
        EXPECT_EQ(failure.which, Engine::Failure::load);
    }
    tones::copyModel(dir / "whole");
    EXPECT_NO_THROW(Engine(dir / "whole", std::nullopt)) << "an undamaged copy loads";
    for (const char* missing : {"encoder.int8.onnx", "decoder.onnx", "joiner.onnx", "tokens.txt"}) {
        auto model = dir / missing;
        tones::copyModel(model);
        std::filesystem::remove(model / missing);
        EXPECT_THROW(Engine(model, std::nullopt), Engine::Failure) << missing;
    }
    auto terms = termsFile(dir, "дон\n");
    ScopedEnv nowhere(vocabVariable, (dir / "no.vocab").string());
    EXPECT_THROW(Engine(tones::modelDirectory(), terms), Engine::Failure);
}

TEST(Engine, DamagedModelFilesFailWithoutEndingTheProcess) {
    ScopedEnv noVocab(vocabVariable, std::nullopt);
    TempDir dir;
    std::string encoder = readFile(tones::modelDirectory() / "encoder.int8.onnx");
    std::string tokens = readFile(tones::modelDirectory() / "tokens.txt");
    std::string decoder = readFile(tones::modelDirectory() / "decoder.onnx");
    struct Damage {
        std::string name;
        std::string file;
        std::string contents;
    };
    ASSERT_TRUE(speech::ModelFiles::encoderFits(*speech::ModelFiles::readOnnxMetadata([&] {
        writeFile(dir / "garbled.onnx", garbledEncoder());
        return dir / "garbled.onnx";
    }()),
                                                40))
        << "the garbled encoder must pass the cheap checks, so that creation itself is exercised";
    std::vector<Damage> damages = {
        {"truncated encoder", "encoder.int8.onnx", encoder.substr(0, 1000)},
        {"empty encoder", "encoder.int8.onnx", ""},
        {"random encoder", "encoder.int8.onnx", std::string(3000, '\x5a')},
        {"decoder as encoder", "encoder.int8.onnx", decoder},
        {"garbled encoder graph", "encoder.int8.onnx", garbledEncoder()},
        {"tokens without blank", "tokens.txt", tokens.substr(0, tokens.find("<blk>"))},
        {"one token too many", "tokens.txt", tokens + "x 40\n"},
        {"three fields", "tokens.txt", "а 0 x\n" + tokens.substr(tokens.find('\n') + 1)},
    };
    auto whole = dir / "whole";
    tones::copyModel(whole);
    ASSERT_EQ(engineOutcomeInChild(whole), 1) << "an undamaged copy loads";
    for (const auto& damage : damages) {
        auto model = dir / damage.name;
        tones::copyModel(model);
        writeFile(model / damage.file, damage.contents);
        EXPECT_EQ(engineOutcomeInChild(model), 0) << damage.name;
    }
    auto terms = termsFile(dir, "дон\n");
    {
        ScopedEnv good(vocabVariable, (tones::modelDirectory() / "bpe.vocab").string());
        ASSERT_EQ(engineOutcomeInChild(tones::modelDirectory(), terms), 1) << "a good vocabulary loads";
    }
    std::string vocab = readFile(tones::modelDirectory() / "bpe.vocab");
    for (const std::string& badVocab : {vocab + "x\n", vocab + "\n"}) {
        writeFile(dir / "bad.vocab", badVocab);
        ScopedEnv given(vocabVariable, (dir / "bad.vocab").string());
        EXPECT_EQ(engineOutcomeInChild(tones::modelDirectory(), terms), 0) << badVocab;
    }
}

} // namespace
