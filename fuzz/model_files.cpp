// The checks a model folder passes before the recogniser sees it: the token table, the bpe
// vocabulary, and the ONNX structure walker with the graph checks.
// Input: one byte choosing the file (0 tokens.txt, 1 bpe.vocab, 2 to 4 an ONNX model in the place
// of the encoder, the decoder or the joiner of the tone model), then the file's bytes.
//
// Invariants: each check is deterministic; an accepted token table ends with its only "<blk>";
// an accepted vocabulary has one piece per line; the vocabulary made from an accepted token table
// is accepted; the walker gives the same model from memory as from a file; the graph checks run
// on whatever the walker accepts.

#include "FuzzSupport.h"

#include "speech/ModelFiles.h"
#include "speech/OnnxModel.h"

#include <algorithm>

namespace {

namespace files = speech::ModelFiles;
using speech::OnnxModel;

bool same(const std::vector<OnnxModel::Value>& a, const std::vector<OnnxModel::Value>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.name == y.name && x.elementType == y.elementType && x.hasShape == y.hasShape && x.shape == y.shape;
    });
}

bool same(const std::optional<OnnxModel>& a, const std::optional<OnnxModel>& b) {
    return a.has_value() == b.has_value() &&
           (!a || (a->metadata == b->metadata && same(a->inputs, b->inputs) && same(a->outputs, b->outputs)));
}

size_t lineCount(std::string_view text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) +
           (!text.empty() && text.back() != '\n' ? 1 : 0);
}

const std::vector<OnnxModel>& toneGraphs() {
    static const std::vector<OnnxModel> graphs = [] {
        std::vector<OnnxModel> read;
        for (const char* name : {"encoder.int8.onnx", "decoder.onnx", "joiner.onnx"}) {
            read.push_back(*OnnxModel::read(std::filesystem::path(RUVEX_TONE_MODEL_DIR) / name));
        }
        return read;
    }();
    return graphs;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const int kind = data[0] % 5;
    const std::string_view contents = fuzz::text(data + 1, size - 1);
    const auto file = fuzz::scratch() / "model-file";
    fuzz::writeFile(file, contents);

    if (kind == 0) {
        auto tokens = files::readTokens(file);
        fuzz::check(tokens == files::readTokens(file), "reading the token table is deterministic");
        if (tokens) {
            fuzz::check(tokens->back() == "<blk>" && std::count(tokens->begin(), tokens->end(), "<blk>") == 1,
                        "an accepted token table ends with its only blank");
            fuzz::check(tokens->size() == lineCount(contents), "one token a line");
            auto vocab = files::bpeVocabFor(*tokens);
            fuzz::writeFile(file, vocab);
            fuzz::check(vocab.empty() || files::isValidBpeVocab(file), "a made vocabulary is accepted");
        }
    } else if (kind == 1) {
        bool valid = files::isValidBpeVocab(file);
        fuzz::check(valid == files::isValidBpeVocab(file), "checking a vocabulary is deterministic");
        auto pieces = files::readBpePieces(file);
        fuzz::check(!valid || (pieces && pieces->size() == lineCount(contents)), "one piece a line");
    } else {
        auto fromMemory = OnnxModel::parse(contents);
        auto fromFile = OnnxModel::read(file);
        fuzz::check(same(fromMemory, fromFile), "the walker reads a file as it reads memory");
        if (fromMemory) {
            auto graphs = toneGraphs();
            graphs[static_cast<size_t>(kind - 2)] = *fromMemory;
            bool fits =
                files::encoderFits(graphs[0].metadata, 40) && files::graphsFit(graphs[0], graphs[1], graphs[2], 40);
            fuzz::check(fits == (files::encoderFits(graphs[0].metadata, 40) &&
                                 files::graphsFit(graphs[0], graphs[1], graphs[2], 40)),
                        "the graph checks are deterministic");
        }
    }
    return 0;
}
