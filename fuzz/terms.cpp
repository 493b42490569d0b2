// The recogniser's terms: the hotwords file written from the dictionary, and the filter that
// keeps only what the model's tokens can spell.
// Input: the dictionary text.
//
// Invariants: the hotwords file has one distinct, non-empty line per kept term, no word of it
// starts with ":" (the recogniser reads that as a score, and aborts on one that is not a number),
// valid UTF-8 stays valid; the filter keeps a subset of those lines, in order, each spellable.

#include "FuzzSupport.h"

#include "speech/ModelFiles.h"
#include "text/Vocabulary.h"

#include <cstdlib>
#include <set>
#include <sstream>

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> result;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        result.push_back(word);
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The terms file is written beside the dictionary, under the application's data folder.
    setenv("XDG_DATA_HOME", fuzz::scratch().c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string dictionary(fuzz::text(data, size));
    text::Vocabulary vocabulary(dictionary);
    auto location = vocabulary.writeTermsFile();
    if (!location) {
        return 0;
    }
    const std::string written = fuzz::readFile(*location);
    fuzz::check(!written.empty() && written.back() == '\n', "every line ends with a line feed");
    auto hotwords = lines(written);
    std::set<std::string> seen;
    for (const auto& line : hotwords) {
        fuzz::check(!words(line).empty(), "no hotword line is blank");
        fuzz::check(seen.insert(line).second, "hotword lines are distinct");
        for (const auto& word : words(line)) {
            fuzz::check(word.front() != ':', "no word of a hotword line starts with a colon");
        }
    }
    if (fuzz::isUtf8(dictionary)) {
        fuzz::check(fuzz::isUtf8(written), "valid UTF-8 stays valid");
    }

    static const auto pieces =
        *speech::ModelFiles::readBpePieces(std::filesystem::path(RUVEX_TONE_MODEL_DIR) / "bpe.vocab");
    auto kept = speech::ModelFiles::spellableTerms(written, pieces);
    // The filter reads past a byte-order mark at the start, as the recogniser does not.
    if (written.starts_with("\xEF\xBB\xBF")) {
        hotwords.front().erase(0, 3);
    }
    size_t next = 0;
    for (const auto& term : kept) {
        fuzz::check(speech::ModelFiles::canSpell(term, pieces), "every kept term is spellable");
        while (next < hotwords.size() && hotwords[next] != term) {
            ++next;
        }
        fuzz::check(next < hotwords.size(), "the filter keeps lines of the file, in order");
        ++next;
    }
    return 0;
}
