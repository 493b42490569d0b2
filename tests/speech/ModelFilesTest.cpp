#include "speech/ModelFiles.h"

#include "Tones.h"
#include "core/Unicode.h"
#include "speech/Engine.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

#include <string>
#include <vector>

namespace {

namespace files = speech::ModelFiles;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(ModelFiles, ReadsATokenTableOnlyWhenTheLibraryWouldAcceptIt) {
    TempDir dir;
    auto tokens = dir / "tokens.txt";
    writeFile(tokens, "\xE2\x96\x81 0\r\nа 1\n<blk> 3\nб 2\n");
    auto read = files::readTokens(tokens);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, (std::vector<std::string>{"\xE2\x96\x81", "а", "б", "<blk>"}));

    auto model = files::readTokens(tones::modelDirectory() / "tokens.txt");
    ASSERT_TRUE(model);
    EXPECT_EQ(model->size(), 40u);

    for (const std::string bad : {
             "",                        // nothing
             "а 0\nб 1\n",              // no blank
             "<blk> 0\nа 1\n",          // blank not last
             "а 0\n<blk> 2\n",          // a gap in the ids
             "а 0\nб 0\n<blk> 1\n",     // an id twice
             "а 0 x\n<blk> 1\n",        // three fields
             "а 0\n\n<blk> 1\n",        // an empty line
             "а zero\n<blk> 1\n",       // not a number
             "а 0\n<blk> 1\n<blk> 2\n", // two blanks
         }) {
        writeFile(tokens, bad);
        EXPECT_FALSE(files::readTokens(tokens)) << bad;
    }
    EXPECT_FALSE(files::readTokens(dir / "missing.txt"));
}

TEST(ModelFiles, AcceptsABpeVocabularyOfPiecesAndNumbersOnly) {
    TempDir dir;
    auto vocab = dir / "bpe.vocab";
    writeFile(vocab, "\xE2\x96\x81\t0\nа -1.5\r\nб\t2 extra\n");
    EXPECT_TRUE(files::isValidBpeVocab(vocab));
    EXPECT_EQ(*files::readBpePieces(vocab), (std::vector<std::string>{"\xE2\x96\x81", "а", "б"}));
    for (const std::string bad : {"", "а 0\n\n", "а 0\nб\n", "а x\n", "\nа 0\n"}) {
        writeFile(vocab, bad);
        EXPECT_FALSE(files::isValidBpeVocab(vocab)) << bad;
    }
    EXPECT_TRUE(files::isValidBpeVocab(tones::modelDirectory() / "bpe.vocab"));
}

TEST(ModelFiles, RecognisesWholeOnnxModelsButNotDamagedOnes) {
    for (const char* name : {"encoder.int8.onnx", "decoder.onnx", "joiner.onnx"}) {
        EXPECT_TRUE(speech::OnnxModel::read(tones::modelDirectory() / name)) << name;
    }
    TempDir dir;
    std::string encoder = readFile(tones::modelDirectory() / "encoder.int8.onnx");
    auto damaged = dir / "encoder.int8.onnx";
    for (const std::string& bad :
         {std::string(), encoder.substr(0, encoder.size() - 1), encoder.substr(0, 1000), std::string(2000, '\x5a'),
          std::string("\x08\x08") /* no graph */, encoder + std::string(1, '\x00')}) {
        writeFile(damaged, bad);
        EXPECT_FALSE(speech::OnnxModel::read(damaged)) << bad.size();
    }
    EXPECT_FALSE(speech::OnnxModel::read(dir / "missing.onnx"));
}

TEST(ModelFiles, ReadsTheEncoderMetadataTheLoaderNeeds) {
    auto encoder = speech::OnnxModel::read(tones::modelDirectory() / "encoder.int8.onnx");
    ASSERT_TRUE(encoder);
    auto* metadata = &encoder->metadata;
    EXPECT_EQ((*metadata)["vocab_size"], "39");
    EXPECT_EQ((*metadata)["is_giga_am"], "1");
    EXPECT_TRUE(files::encoderFits(*metadata, 40));
    EXPECT_FALSE(files::encoderFits(*metadata, 41)) << "one token too many";

    auto decoder = speech::OnnxModel::read(tones::modelDirectory() / "decoder.onnx");
    ASSERT_TRUE(decoder);
    EXPECT_FALSE(files::encoderFits(decoder->metadata, 40)) << "a graph without the transducer metadata";

    auto broken = *metadata;
    broken["pred_hidden"] = "-1";
    EXPECT_FALSE(files::encoderFits(broken, 40));
    broken = *metadata;
    broken["normalize_type"] = "whatever";
    EXPECT_FALSE(files::encoderFits(broken, 40));
}

TEST(ModelFiles, GraphsMustDeclareWhatTheTransducerFeedsAndReads) {
    auto load = [](const std::filesystem::path& folder) {
        std::vector<speech::OnnxModel> graphs;
        for (const char* name : {"encoder.int8.onnx", "decoder.onnx", "joiner.onnx"}) {
            graphs.push_back(*speech::OnnxModel::read(folder / name));
        }
        return graphs;
    };
    auto tone = load(tones::modelDirectory());
    EXPECT_TRUE(files::graphsFit(tone[0], tone[1], tone[2], 40));
    EXPECT_FALSE(files::graphsFit(tone[0], tone[2], tone[1], 40)) << "decoder and joiner swapped";
    EXPECT_FALSE(files::graphsFit(tone[0], tone[1], tone[0], 40)) << "the encoder as joiner";
    EXPECT_FALSE(files::graphsFit(tone[0], tone[0], tone[2], 40)) << "the encoder as decoder";

    const auto real = load(tones::faultsDirectory() / "gigaam-io");
    EXPECT_TRUE(files::graphsFit(real[0], real[1], real[2], 1025)) << "the real model's layout";
    EXPECT_FALSE(files::graphsFit(real[0], real[1], real[2], 1024)) << "one token fewer than scores";
    EXPECT_FALSE(files::graphsFit(real[0], real[1], tone[2], 1025)) << "another model's joiner";
    const std::vector<std::pair<const char*, std::function<void(std::vector<speech::OnnxModel>&)>>> breaks = {
        {"frame counts as floats", [](auto& g) { g[0].outputs[1].elementType = speech::OnnxModel::Value::float32; }},
        {"80 features", [](auto& g) { g[0].inputs[0].shape[1] = 80; }},
        {"states of another size", [](auto& g) { g[0].metadata["pred_hidden"] = "640"; }},
        {"a decoder output missing", [](auto& g) { g[1].outputs.pop_back(); }},
        {"two inputs of one name", [](auto& g) { g[1].inputs[3].name = g[1].inputs[2].name; }},
        {"a nameless output", [](auto& g) { g[2].outputs[0].name.clear(); }},
        {"scores of undeclared width", [](auto& g) { g[2].outputs[0].shape.back() = -1; }},
        {"a frame of 512", [](auto& g) { g[2].inputs[0].shape[1] = 512; }},
    };
    for (const auto& [what, change] : breaks) {
        auto graphs = real;
        change(graphs);
        EXPECT_FALSE(files::graphsFit(graphs[0], graphs[1], graphs[2], 1025)) << what;
    }
}

TEST(ModelFiles, PipesAreNeverOpened) {
    TempDir dir;
    // Nobody writes: opening one for reading would wait for ever.
    for (const char* name : {"tokens.txt", "bpe.vocab", "encoder.int8.onnx"}) {
        ASSERT_EQ(::mkfifo((dir / name).c_str(), 0600), 0);
    }
    EXPECT_FALSE(files::readTokens(dir / "tokens.txt"));
    EXPECT_FALSE(files::isValidBpeVocab(dir / "bpe.vocab"));
    EXPECT_FALSE(speech::OnnxModel::read(dir / "encoder.int8.onnx"));
}

TEST(ModelFiles, MakesABpeVocabularyFromTheTokenTable) {
    std::string vocab = files::bpeVocabFor({"\xE2\x96\x81", "а", "\xE2\x96\x81при", " ", "<blk>"});
    EXPECT_EQ(vocab, "\xE2\x96\x81\t-1\nа\t-1\n\xE2\x96\x81при\t-1\n");
    TempDir dir;
    writeFile(dir / "bpe.vocab", vocab);
    EXPECT_TRUE(files::isValidBpeVocab(dir / "bpe.vocab"));
}

TEST(ModelFiles, KeepsOnlyTermsTheTokensCanSpell) {
    std::vector<std::string> pieces = {"\xE2\x96\x81", "д", "о", "н", "\xE2\x96\x81ки", "т"};
    EXPECT_TRUE(files::canSpell("дон", pieces));
    EXPECT_TRUE(files::canSpell("кит дон", pieces)) << "a merged piece with the word mark";
    EXPECT_FALSE(files::canSpell("тик", pieces)) << "к and и exist only inside a merged piece";
    EXPECT_FALSE(files::canSpell("ДОН", pieces));
    EXPECT_FALSE(files::canSpell("дон hello", pieces));
    EXPECT_FALSE(files::canSpell("дон :5", pieces));
    EXPECT_FALSE(files::canSpell("", pieces));

    std::string terms = "\xEF\xBB\xBF"
                        "дон\r\n\nhello\nкит\n  \nулыбка :)\n";
    EXPECT_EQ(files::spellableTerms(terms, pieces), (std::vector<std::string>{"дон", "кит"}));
}

TEST(Engine, TrimsWhiteSpaceAndLineBreaksIncludingUnicodeOnes) {
    EXPECT_EQ(core::unicode::trimmed(" \t\n\xC2\xA0привет мир\xE2\x80\x83\r\n"), "привет мир");
    EXPECT_EQ(core::unicode::trimmed("да "), "да");
    EXPECT_EQ(core::unicode::trimmed(" \n\xE2\x80\xA8"), "");
    EXPECT_EQ(core::unicode::trimmed(""), "");
    EXPECT_EQ(core::unicode::trimmed("a\xC2"), "a\xC2") << "a broken last byte is kept";
}

} // namespace
