// The user's dictionary: parsing a dictionary text and applying its replacements to a dictation.
// Input: the dictionary text, a NUL byte, the text to correct.
//
// Invariants: parsing is deterministic and gives distinct, trimmed terms and replacements with a
// non-empty heard text, none holding a line break; applying keeps valid UTF-8 valid, is
// deterministic, and stays within the growth bound; and each rule alone replaces exactly what ICU
// itself replaces with the rule's full expression "(?<![\p{L}\p{N}])heard(?![\p{L}\p{N}])".

#include "FuzzSupport.h"

#include "text/Vocabulary.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <cstdio>
#include <memory>
#include <unordered_set>

namespace {

using text::Vocabulary;

/// `heard` as ICU's own escapes, one per code point, so nothing in it is read as syntax.
icu::UnicodeString literal(const icu::UnicodeString& heard) {
    icu::UnicodeString pattern;
    for (int32_t i = 0; i < heard.length(); i = heard.moveIndex32(i, 1)) {
        char escape[16];
        std::snprintf(escape, sizeof escape, "\\x{%X}", static_cast<unsigned>(heard.char32At(i)));
        pattern.append(icu::UnicodeString(escape, -1, US_INV));
    }
    return pattern;
}

/// The rule replaced by ICU with its full expression; nothing when ICU fails.
std::optional<icu::UnicodeString> byExpression(const Vocabulary::Replacement& rule, const icu::UnicodeString& text) {
    auto heard = icu::UnicodeString::fromUTF8(rule.heard);
    icu::UnicodeString pattern = u"(?<![\\p{L}\\p{N}])" + literal(heard) + u"(?![\\p{L}\\p{N}])";
    UErrorCode status = U_ZERO_ERROR;
    UParseError where;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(pattern, UREGEX_CASE_INSENSITIVE, where, status));
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    std::unique_ptr<icu::RegexMatcher> matcher(compiled->matcher(text, status));
    // The replacement as a template: "$" and "\" are escaped so that it is taken literally.
    icu::UnicodeString written = icu::UnicodeString::fromUTF8(rule.written);
    icu::UnicodeString escapedWritten;
    for (int32_t i = 0; i < written.length(); ++i) {
        if (written[i] == u'$' || written[i] == u'\\') {
            escapedWritten.append(u'\\');
        }
        escapedWritten.append(written[i]);
    }
    auto result = matcher->replaceAll(escapedWritten, status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    return result;
}

int64_t bound(const std::string& text) {
    return Vocabulary::growthFactor * int64_t{icu::UnicodeString::fromUTF8(text).length()} +
           Vocabulary::growthAllowance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parts = fuzz::split(fuzz::text(data, size), '\0', 2);
    std::string dictionary(parts[0]);
    std::string dictation(parts.size() > 1 ? parts[1] : "");

    Vocabulary vocabulary(dictionary);
    fuzz::check(vocabulary == Vocabulary(dictionary), "parsing is deterministic");
    std::unordered_set<std::string> terms;
    for (const auto& term : vocabulary.terms) {
        fuzz::check(!term.empty() && term.front() != '#', "a term is not empty and not a comment");
        fuzz::check(terms.insert(term).second, "terms are distinct");
        fuzz::check(term.find_first_of("\n\r") == std::string::npos, "a term is one line");
        fuzz::check(term.front() != ' ' && term.back() != ' ' && term.front() != '\t' && term.back() != '\t',
                    "a term is trimmed");
    }
    for (const auto& rule : vocabulary.replacements) {
        fuzz::check(!rule.heard.empty(), "a replacement hears something");
        fuzz::check((rule.heard + rule.written).find_first_of("\n\r") == std::string::npos,
                    "a replacement is one line");
    }

    std::string applied = vocabulary.apply(dictation);
    fuzz::check(applied == vocabulary.apply(dictation), "applying is deterministic");
    if (fuzz::isUtf8(dictionary) && fuzz::isUtf8(dictation)) {
        fuzz::check(fuzz::isUtf8(applied), "valid UTF-8 stays valid");
        fuzz::check(int64_t{icu::UnicodeString::fromUTF8(applied).length()} <= bound(dictation),
                    "replacements stay within the growth bound");
    }

    // Each of the first rules alone against ICU's own replacement with the full expression.
    auto input = icu::UnicodeString::fromUTF8(dictation);
    std::string normalised;
    input.toUTF8String(normalised);
    for (size_t i = 0; i < vocabulary.replacements.size() && i < 4; ++i) {
        const auto& rule = vocabulary.replacements[i];
        auto expected = byExpression(rule, input);
        if (!expected || int64_t{expected->length()} > bound(normalised)) {
            continue;
        }
        Vocabulary single;
        single.replacements.push_back(rule);
        std::string reference;
        expected->toUTF8String(reference);
        fuzz::check(single.apply(normalised) == reference, "a rule replaces what its expression matches");
    }
    return 0;
}
