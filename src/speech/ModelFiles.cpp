#include "speech/ModelFiles.h"

#include "core/AtomicFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace speech::ModelFiles {

namespace {

const std::string blank = "<blk>";
const std::string wordMark = "\xE2\x96\x81"; // U+2581, the word-start piece

std::vector<std::string> fields(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> result;
    for (std::string field; in >> field;) {
        result.push_back(field);
    }
    return result;
}

// Token tables and vocabularies are tens of kilobytes; anything near this is not one.
constexpr std::size_t largestTextFile = 64 << 20;

std::optional<std::vector<std::string>> readLines(const std::filesystem::path& file) {
    std::string text;
    if (core::readRegularFile(file, text, largestTextFile)) {
        return std::nullopt;
    }
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

bool isNumber(const std::string& text) {
    // The library reads the score with a stream, which accepts any text that starts like a number.
    const char* start = text.c_str();
    char* end = nullptr;
    std::strtof(start, &end);
    return end != start;
}

std::optional<int64_t> parseId(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::stoll(text);
}

} // namespace

std::optional<std::vector<std::string>> readTokens(const std::filesystem::path& file) {
    auto lines = readLines(file);
    if (!lines || lines->empty()) {
        return std::nullopt;
    }
    std::vector<std::string> byId(lines->size());
    std::vector<bool> seen(lines->size(), false);
    for (const auto& line : *lines) {
        auto parts = fields(line);
        // A single field is the library's spelling of the space piece; three or more end the process.
        if (parts.empty() || parts.size() > 2) {
            return std::nullopt;
        }
        std::string piece = parts.size() == 2 ? parts[0] : " ";
        auto id = parseId(parts.back());
        if (!id || *id >= static_cast<int64_t>(byId.size()) || seen[*id]) {
            return std::nullopt;
        }
        seen[*id] = true;
        byId[*id] = piece;
    }
    if (byId.back() != blank || std::count(byId.begin(), byId.end(), blank) != 1) {
        return std::nullopt;
    }
    return byId;
}

bool isValidBpeVocab(const std::filesystem::path& file) {
    auto lines = readLines(file);
    if (!lines || lines->empty()) {
        return false;
    }
    return std::all_of(lines->begin(), lines->end(), [](const std::string& line) {
        auto parts = fields(line);
        return parts.size() >= 2 && isNumber(parts[1]);
    });
}

bool encoderFits(const std::map<std::string, std::string>& metadata, size_t tokenCount) {
    auto number = [&](const std::string& key) -> std::optional<int64_t> {
        auto found = metadata.find(key);
        if (found == metadata.end()) {
            return std::nullopt;
        }
        return parseId(found->second);
    };
    for (const char* key : {"vocab_size", "subsampling_factor", "pred_rnn_layers", "pred_hidden"}) {
        if (!number(key)) {
            return false;
        }
    }
    for (const char* key : {"is_giga_am", "feat_dim"}) {
        if (metadata.count(key) != 0 && !number(key)) {
            return false;
        }
    }
    if (auto normalize = metadata.find("normalize_type"); normalize != metadata.end()) {
        const std::string& kind = normalize->second;
        if (kind != "" && kind != "NA" && kind != "per_feature") {
            return false;
        }
    }
    return static_cast<size_t>(*number("vocab_size")) + 1 == tokenCount;
}

namespace {

using Value = OnnxModel::Value;

/// The library feeds and fetches values by the names the graph declares, in order.
bool namesUsable(const std::vector<Value>& values) {
    std::set<std::string_view> seen;
    return std::all_of(values.begin(), values.end(),
                       [&](const Value& value) { return !value.name.empty() && seen.insert(value.name).second; });
}

/// True when `value` is a tensor of `type` whose declared shape, if any, has the rank of `sizes`
/// and a size matching each of them where both are known (-1 in `sizes`: any size).
bool fits(const Value& value, std::int32_t type, std::initializer_list<std::int64_t> sizes) {
    if (value.elementType != type) {
        return false;
    }
    if (!value.hasShape) {
        return true;
    }
    if (value.shape.size() != sizes.size()) {
        return false;
    }
    auto expected = sizes.begin();
    for (std::int64_t size : value.shape) {
        if (size >= 0 && *expected >= 0 && size != *expected) {
            return false;
        }
        ++expected;
    }
    return true;
}

std::int64_t dimension(const Value& value, size_t index) {
    return value.hasShape && index < value.shape.size() ? value.shape[index] : -1;
}

std::int64_t metadataNumber(const OnnxModel& model, const std::string& key, std::int64_t fallback) {
    auto found = model.metadata.find(key);
    auto number = found == model.metadata.end() ? std::nullopt : parseId(found->second);
    return number ? *number : fallback;
}

bool encoderGraphFits(const OnnxModel& encoder) {
    const auto& in = encoder.inputs;
    const auto& out = encoder.outputs;
    // The GigaAM front end always makes 64 features; other models take feat_dim (else the 64 asked for).
    std::int64_t features =
        metadataNumber(encoder, "is_giga_am", 0) == 1 ? 64 : metadataNumber(encoder, "feat_dim", 64);
    return in.size() == 2 && out.size() >= 2 && fits(in[0], Value::float32, {-1, features, -1}) &&
           fits(in[1], Value::int64, {-1}) && fits(out[0], Value::float32, {-1, -1, -1}) &&
           // The library ends the process on any other type of frame count.
           (fits(out[1], Value::int32, {-1}) || fits(out[1], Value::int64, {-1}));
}

bool decoderGraphFits(const OnnxModel& decoder, std::int64_t layers, std::int64_t hidden) {
    const auto& in = decoder.inputs;
    const auto& out = decoder.outputs;
    return in.size() == 4 && out.size() >= 4 && fits(in[0], Value::int32, {1, 1}) && fits(in[1], Value::int32, {1}) &&
           fits(in[2], Value::float32, {layers, 1, hidden}) && fits(in[3], Value::float32, {layers, 1, hidden}) &&
           out[0].elementType == Value::float32 && fits(out[2], Value::float32, {layers, 1, hidden}) &&
           fits(out[3], Value::float32, {layers, 1, hidden});
}

bool joinerGraphFits(const OnnxModel& joiner, const Value& encoded, const Value& predicted, size_t tokenCount) {
    const auto& in = joiner.inputs;
    const auto& out = joiner.outputs;
    if (in.size() != 2 || out.empty() || !fits(in[0], Value::float32, {1, dimension(encoded, 1), 1}) ||
        in[1].elementType != Value::float32 || out[0].elementType != Value::float32) {
        return false;
    }
    // The decoder's output goes into the joiner as it is.
    if (in[1].hasShape && predicted.hasShape) {
        if (in[1].shape.size() != predicted.shape.size()) {
            return false;
        }
        for (size_t i = 0; i < predicted.shape.size(); ++i) {
            if (in[1].shape[i] >= 0 && predicted.shape[i] >= 0 && in[1].shape[i] != predicted.shape[i]) {
                return false;
            }
        }
    }
    // The loader reads the width of the scores from the declaration and ends the process unless it
    // is the number of tokens.
    return out[0].hasShape && !out[0].shape.empty() && out[0].shape.back() == static_cast<std::int64_t>(tokenCount);
}

} // namespace

bool graphsFit(const OnnxModel& encoder, const OnnxModel& decoder, const OnnxModel& joiner, size_t tokenCount) {
    for (const auto* model : {&encoder, &decoder, &joiner}) {
        if (!namesUsable(model->inputs) || !namesUsable(model->outputs)) {
            return false;
        }
    }
    std::int64_t layers = metadataNumber(encoder, "pred_rnn_layers", -1);
    std::int64_t hidden = metadataNumber(encoder, "pred_hidden", -1);
    return layers >= 0 && hidden >= 0 && encoderGraphFits(encoder) && decoderGraphFits(decoder, layers, hidden) &&
           joinerGraphFits(joiner, encoder.outputs[0], decoder.outputs[0], tokenCount);
}

std::string bpeVocabFor(const std::vector<std::string>& tokens) {
    std::string text;
    for (const auto& piece : tokens) {
        // Pieces with white space cannot be written in the vocabulary format.
        if (piece == blank || piece.empty() || piece.find_first_of(" \t\r\n\v\f") != std::string::npos) {
            continue;
        }
        text += piece + "\t-1\n";
    }
    return text;
}

std::optional<std::vector<std::string>> readBpePieces(const std::filesystem::path& file) {
    auto lines = readLines(file);
    if (!lines) {
        return std::nullopt;
    }
    std::vector<std::string> pieces;
    for (const auto& line : *lines) {
        auto parts = fields(line);
        if (!parts.empty()) {
            pieces.push_back(parts[0]);
        }
    }
    return pieces;
}

namespace {

/// Tells which words a set of pieces can write; built once for many terms.
class Speller {
public:
    explicit Speller(const std::vector<std::string>& pieces) : known(pieces.begin(), pieces.end()) {
        for (const auto& piece : pieces) {
            longest = std::max(longest, piece.size());
        }
    }

    bool canSpell(const std::string& term) const {
        auto words = fields(term);
        if (words.empty()) {
            return false;
        }
        return std::all_of(words.begin(), words.end(),
                           [&](const std::string& word) { return word.front() != ':' && canWrite(wordMark + word); });
    }

private:
    // Pieces are matched as byte strings: reachable[i] says the first i bytes can be written.
    bool canWrite(std::string_view marked) const {
        std::vector<bool> reachable(marked.size() + 1, false);
        reachable[0] = true;
        for (size_t start = 0; start < marked.size(); ++start) {
            if (!reachable[start]) {
                continue;
            }
            for (size_t length = 1; length <= longest && start + length <= marked.size(); ++length) {
                if (known.count(marked.substr(start, length)) != 0) {
                    reachable[start + length] = true;
                }
            }
        }
        return reachable[marked.size()];
    }

    std::unordered_set<std::string_view> known; // views into the caller's pieces
    size_t longest = 0;
};

} // namespace

bool canSpell(const std::string& term, const std::vector<std::string>& pieces) {
    return Speller(pieces).canSpell(term);
}

std::vector<std::string> spellableTerms(const std::string& termsText, const std::vector<std::string>& pieces) {
    const Speller speller(pieces);
    std::vector<std::string> kept;
    std::string_view text = termsText;
    const std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, byteOrderMark.size()) == byteOrderMark) {
        text.remove_prefix(byteOrderMark.size());
    }
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (speller.canSpell(line)) {
            kept.push_back(line);
        }
    }
    return kept;
}

} // namespace speech::ModelFiles
