#include "text/Transcript.h"

#include "core/Unicode.h"

#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace text::Transcript {

namespace {

using icu::UnicodeString;

// The expressions are constants of the program: one that does not compile is a defect of the build,
// so the process stops at its first use rather than silently cleaning nothing.
std::unique_ptr<icu::RegexPattern> compile(const std::string& pattern) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError where;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(UnicodeString::fromUTF8(pattern), UREGEX_CASE_INSENSITIVE, where, status));
    if (U_FAILURE(status) || !compiled) {
        std::abort();
    }
    return compiled;
}

// Shared parts of the expressions; plain literals so no static initialisation order is involved.
constexpr const char* fillers =
    "(?:ну|короче|типа|как бы|в общем|в общем-то|так сказать|это самое|э+|э-э+|м+|эм+|ээм+)";
constexpr const char* correctionWords = "(?:нет|вернее|точнее|то есть)";
constexpr const char* number = "(?:\\d+|одн[аоуи]|один|два|две|три|четыре|пять|шесть|семь|восемь|девять|десять|"
                               "одиннадцать|двенадцать|пятнадцать|двадцать|тридцать|сорок|пятьдесят|сто)";

// Function-local statics: built once, on first use, safely under concurrent first calls; a
// RegexPattern is immutable and shared, each call makes its own matcher.
const icu::RegexPattern& continues() {
    static const auto pattern =
        compile("^(?:что|чтобы|и|но|а|или|либо|который|которая|которое|которые|которого|которой|которых|если|"
                "потому|поэтому|когда|где|куда|как|так как|пока|хотя|чем|то есть|плюс)\\b");
    return *pattern;
}

const icu::RegexPattern& fillerAtStart() {
    static const auto pattern = compile(std::string("(^|(?<=[.!?…]\\s))") + fillers + ",\\s*");
    return *pattern;
}

const icu::RegexPattern& fillerInside() {
    static const auto pattern = compile(std::string(",\\s*") + fillers + "\\s*(?:,|(?=[.!?…]))");
    return *pattern;
}

const icu::RegexPattern& hesitation() {
    static const auto pattern = compile("(?<!\\w)(?:э-э+|э{2,}|м{2,}|эм{1,}|ээм+)(?!\\w),?\\s*");
    return *pattern;
}

const icu::RegexPattern& spaces() {
    static const auto pattern = compile("\\s{2,}");
    return *pattern;
}

const icu::RegexPattern& correction() {
    static const auto pattern =
        compile("(?:[,.?!]|^)\\s*(?:нет|вернее|точнее|то есть|в смысле|ой|стоп|не так|я имею в виду)\\s*[,.]");
    return *pattern;
}

const icu::RegexPattern& samePreposition() {
    static const auto pattern =
        compile(std::string("(?<!\\w)(в|во|на|до|к|ко|с|со|по|за|от|из|у|через|после|перед)\\s+[^\\s,.!?]+"
                            "[,.]?\\s+") +
                correctionWords + "[,.]?\\s+" + "\\1(?!\\w)");
    return *pattern;
}

const icu::RegexPattern& twoNumbers() {
    static const auto pattern = compile(std::string("(?<!\\w)") + number + "(?:\\s+[^\\s,.!?]+)?[,.]?\\s+" +
                                        correctionWords + "[,.]?\\s+" + number + "(?!\\w)");
    return *pattern;
}

std::unique_ptr<icu::RegexMatcher> matcherFor(const icu::RegexPattern& pattern, const UnicodeString& input) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(input, status));
    if (U_FAILURE(status) || !matcher) {
        std::abort(); // only on memory exhaustion
    }
    return matcher;
}

/// One replacement pass: every non-overlapping match of the text as it was, left to right, replaced
/// by the template ("$1" is capture group 1).
UnicodeString replaceAll(const icu::RegexPattern& pattern, const UnicodeString& input, const UnicodeString& with) {
    auto matcher = matcherFor(pattern, input);
    UErrorCode status = U_ZERO_ERROR;
    UnicodeString result = matcher->replaceAll(with, status);
    if (U_FAILURE(status)) {
        std::abort();
    }
    return result;
}

bool found(const icu::RegexPattern& pattern, const UnicodeString& input) {
    return matcherFor(pattern, input)->find();
}

const icu::Locale& caseLocale() {
    // The plain Unicode mappings; Russian has no tailoring of its own.
    return icu::Locale::getRoot();
}

UnicodeString upper(UnicodeString text) {
    return text.toUpper(caseLocale());
}

UnicodeString lower(UnicodeString text) {
    return text.toLower(caseLocale());
}

bool isHorizontalSpace(UChar32 c) {
    return c == 0x09 || u_charType(c) == U_SPACE_SEPARATOR;
}

bool isSentenceTerminator(UChar32 c) {
    return c == '.' || c == '!' || c == '?' || c == 0x2026;
}

bool isOpeningMark(const UnicodeString& character) {
    return character == UnicodeString(static_cast<UChar32>(0x00AB)) || character == UnicodeString(u'"') ||
           character == UnicodeString(u'(');
}

/// Trims spaces and tabs (not newlines) from both ends.
UnicodeString trimHorizontal(const UnicodeString& text) {
    int32_t start = 0;
    int32_t end = text.length();
    while (start < end && isHorizontalSpace(text.char32At(start))) {
        start = text.moveIndex32(start, 1);
    }
    while (end > start && isHorizontalSpace(text.char32At(text.moveIndex32(end, -1)))) {
        end = text.moveIndex32(end, -1);
    }
    return UnicodeString(text, start, end - start);
}

bool isUpperCase(const UnicodeString& character) {
    if (character.countChar32() == 1) {
        return u_hasBinaryProperty(character.char32At(0), UCHAR_UPPERCASE);
    }
    return character == upper(character) && character != lower(character);
}

std::string toUTF8(const UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

/// A piece that begins a sentence is lowered where the cut left a stray capital, but an acronym
/// ("СРО") or a one-letter piece stays as it is.
UnicodeString lowerStrayCapital(const UnicodeString& piece) {
    auto chars = core::unicode::characters(piece);
    if (chars.size() < 2 || !isUpperCase(chars[0]) || isUpperCase(chars[1])) {
        return piece;
    }
    UnicodeString result = lower(chars[0]);
    result.append(piece, chars[0].length(), piece.length() - chars[0].length());
    return result;
}

bool startsWithJoiningConjunction(const UnicodeString& piece) {
    UnicodeString lowered = lower(piece);
    for (const char* word : {"и ", "или ", "либо "}) {
        if (lowered.startsWith(UnicodeString::fromUTF8(word))) {
            return true;
        }
    }
    return false;
}

UnicodeString capitaliseSentenceStarts(const UnicodeString& text) {
    UnicodeString result;
    bool capitaliseNext = true;
    for (const auto& character : core::unicode::characters(text)) {
        UChar32 first = character.char32At(0);
        if (capitaliseNext && u_hasBinaryProperty(first, UCHAR_ALPHABETIC)) {
            result.append(upper(character));
            capitaliseNext = false;
            continue;
        }
        result.append(character);
        if (character.countChar32() == 1 && isSentenceTerminator(first)) {
            capitaliseNext = true;
        } else if (capitaliseNext) {
            capitaliseNext = u_hasBinaryProperty(first, UCHAR_WHITE_SPACE) || isOpeningMark(character);
        }
    }
    return result;
}

UnicodeString trimSpacesAndCommas(const UnicodeString& text) {
    int32_t start = 0;
    int32_t end = text.length();
    while (start < end && (text[start] == u' ' || text[start] == u',')) {
        ++start;
    }
    while (end > start && (text[end - 1] == u' ' || text[end - 1] == u',')) {
        --end;
    }
    return UnicodeString(text, start, end - start);
}

} // namespace

std::string joinPieces(const std::vector<std::string>& pieces) {
    UnicodeString result;
    for (const auto& raw : pieces) {
        UnicodeString piece = trimHorizontal(UnicodeString::fromUTF8(raw));
        if (piece.isEmpty()) {
            continue;
        }
        if (result.isEmpty()) {
            result = piece;
            continue;
        }
        bool continuation = false;
        if (result.endsWith(UnicodeString(u'.')) && found(continues(), piece)) {
            result.truncate(result.length() - 1);
            if (!startsWithJoiningConjunction(piece)) {
                result.append(u',');
            }
            continuation = true;
        }
        if (!continuation && isSentenceTerminator(result.char32At(result.moveIndex32(result.length(), -1)))) {
            result.append(u' ').append(piece);
            continue;
        }
        result.append(u' ').append(lowerStrayCapital(piece));
    }
    return toUTF8(result);
}

std::string cleanLocally(const std::string& input) {
    UnicodeString text = UnicodeString::fromUTF8(input);
    text = replaceAll(hesitation(), text, UnicodeString());
    // Each pass removes at most one filler per sentence start; three passes take up to three stacked.
    for (int pass = 0; pass < 3; ++pass) {
        text = replaceAll(fillerAtStart(), text, UnicodeString(u"$1"));
    }
    text = replaceAll(fillerInside(), text, UnicodeString());
    text = replaceAll(spaces(), text, UnicodeString(u' '));
    text = trimSpacesAndCommas(text);
    if (text.isEmpty()) {
        return {};
    }
    return toUTF8(capitaliseSentenceStarts(text));
}

bool needsAI(const std::string& input) {
    UnicodeString text = UnicodeString::fromUTF8(input);
    return found(correction(), text) || found(samePreposition(), text) || found(twoNumbers(), text);
}

} // namespace text::Transcript
