#include "speech/ModelFiles.h"

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

std::optional<std::vector<std::string>> readLines(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    if (in.bad()) {
        return std::nullopt;
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

// Reads one base-128 varint; false at the end of the file or on an over-long encoding.
bool readVarint(std::istream& in, uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        int byte = in.get();
        if (byte == EOF) {
            return false;
        }
        value |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

// One StringStringEntryProto: key (field 1) and value (field 2), both length-delimited.
std::optional<std::pair<std::string, std::string>> keyAndValue(const std::string& entry) {
    std::istringstream in(entry);
    std::pair<std::string, std::string> result;
    while (in.peek() != EOF) {
        uint64_t tag = 0;
        uint64_t length = 0;
        if (!readVarint(in, tag) || (tag & 7) != 2 || !readVarint(in, length) ||
            length > entry.size() - static_cast<uint64_t>(in.tellg())) {
            return std::nullopt;
        }
        std::string text(length, '\0');
        in.read(text.data(), static_cast<std::streamsize>(length));
        if ((tag >> 3) == 1) {
            result.first = text;
        } else if ((tag >> 3) == 2) {
            result.second = text;
        }
    }
    return result;
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

std::optional<std::map<std::string, std::string>> readOnnxMetadata(const std::filesystem::path& file) {
    std::error_code error;
    auto size = std::filesystem::file_size(file, error);
    if (error || size == 0) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    constexpr uint64_t graphField = 7;
    constexpr uint64_t metadataField = 14;
    constexpr uint64_t largestEntry = 1 << 20;
    std::map<std::string, std::string> metadata;
    bool hasGraph = false;
    uint64_t position = 0;
    while (position < size) {
        uint64_t tag = 0;
        if (!readVarint(in, tag)) {
            return std::nullopt;
        }
        uint64_t field = tag >> 3;
        uint64_t wireType = tag & 7;
        if (field == 0) {
            return std::nullopt;
        }
        uint64_t skip = 0;
        switch (wireType) {
        case 0: {
            uint64_t ignored = 0;
            if (!readVarint(in, ignored)) {
                return std::nullopt;
            }
            break;
        }
        case 1:
            skip = 8;
            break;
        case 2:
            if (!readVarint(in, skip)) {
                return std::nullopt;
            }
            break;
        case 5:
            skip = 4;
            break;
        default:
            return std::nullopt;
        }
        uint64_t here = static_cast<uint64_t>(in.tellg());
        if (skip > size - here) {
            return std::nullopt;
        }
        hasGraph = hasGraph || (field == graphField && wireType == 2);
        if (field == metadataField && wireType == 2 && skip <= largestEntry) {
            std::string entry(skip, '\0');
            in.read(entry.data(), static_cast<std::streamsize>(skip));
            if (auto pair = keyAndValue(entry)) {
                metadata[pair->first] = pair->second;
            }
        }
        position = here + skip;
        in.seekg(static_cast<std::streamoff>(position));
    }
    if (!hasGraph || position != size) {
        return std::nullopt;
    }
    return metadata;
}

bool looksLikeOnnx(const std::filesystem::path& file) {
    return readOnnxMetadata(file).has_value();
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
