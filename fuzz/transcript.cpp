// The transcript operations on recognised text: joining the pieces of a dictation and the local
// cleanup. Input: the pieces, separated by NUL bytes (at most 16).
//
// Invariants: both are deterministic; valid UTF-8 stays valid; the joined text holds every
// non-blank piece's words in order (no piece is lost) and is empty only when every piece is
// blank; the cleaned text has no white space at either end and no run of two spaces.

#include "FuzzSupport.h"

#include "text/Transcript.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace {

using text::Transcript::cleanLocally;
using text::Transcript::joinPieces;

bool blank(const std::string& piece) {
    auto text = icu::UnicodeString::fromUTF8(piece);
    for (int32_t i = 0; i < text.length(); i = text.moveIndex32(i, 1)) {
        UChar32 c = text.char32At(i);
        if (c != u'\t' && u_charType(c) != U_SPACE_SEPARATOR) {
            return false;
        }
    }
    return true;
}

/// The letters and digits of `text`, case-folded: what joining must keep, in order.
icu::UnicodeString words(const std::string& text) {
    auto folded = icu::UnicodeString::fromUTF8(text).foldCase();
    icu::UnicodeString kept;
    for (int32_t i = 0; i < folded.length(); i = folded.moveIndex32(i, 1)) {
        if (u_isalnum(folded.char32At(i))) {
            kept.append(folded.char32At(i));
        }
    }
    return kept;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> pieces;
    for (auto part : fuzz::split(fuzz::text(data, size), '\0', 16)) {
        pieces.emplace_back(part);
    }
    std::string joined = joinPieces(pieces);
    fuzz::check(joined == joinPieces(pieces), "joining is deterministic");
    std::string all;
    bool valid = true;
    for (const auto& piece : pieces) {
        all += piece;
        valid = valid && fuzz::isUtf8(piece);
    }
    if (valid) {
        fuzz::check(fuzz::isUtf8(joined), "joining keeps valid UTF-8 valid");
        bool anyWords = false;
        for (const auto& piece : pieces) {
            anyWords = anyWords || !blank(piece);
        }
        fuzz::check(joined.empty() == !anyWords, "the join is empty only when every piece is blank");
        fuzz::check(words(joined) == words(all), "joining loses and invents no letter or digit");
    }

    std::string cleaned = cleanLocally(joined);
    fuzz::check(cleaned == cleanLocally(joined), "cleanup is deterministic");
    if (valid) {
        fuzz::check(fuzz::isUtf8(cleaned), "cleanup keeps valid UTF-8 valid");
        fuzz::check(cleaned.find("  ") == std::string::npos, "cleanup folds runs of spaces");
        fuzz::check(cleaned.empty() || (cleaned.front() != ' ' && cleaned.back() != ' '),
                    "cleanup leaves no space at either end");
    }
    text::Transcript::needsAI(cleaned);
    return 0;
}
