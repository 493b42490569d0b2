#include "core/Unicode.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <memory>

namespace core::unicode {

namespace {

/// Decodes the code point that starts at `offset`, or returns false for ill-formed UTF-8.
bool next(std::string_view text, std::size_t& offset, char32_t& c) {
    int32_t i = static_cast<int32_t>(offset);
    UChar32 value = 0;
    U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), i, static_cast<int32_t>(text.size()), value);
    if (value < 0) {
        return false;
    }
    offset = static_cast<std::size_t>(i);
    c = static_cast<char32_t>(value);
    return true;
}

/// Decodes the code point that ends at `end`.
bool previous(std::string_view text, std::size_t& end, char32_t& c) {
    int32_t i = static_cast<int32_t>(end);
    UChar32 value = 0;
    U8_PREV(reinterpret_cast<const uint8_t*>(text.data()), 0, i, value);
    if (value < 0) {
        return false;
    }
    end = static_cast<std::size_t>(i);
    c = static_cast<char32_t>(value);
    return true;
}

} // namespace

bool isWhitespaceOrNewline(char32_t c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85) {
        return true;
    }
    auto type = u_charType(static_cast<UChar32>(c));
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

std::string trimmed(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t after = begin;
        char32_t c = 0;
        if (!next(text, after, c) || !isWhitespaceOrNewline(c)) {
            break;
        }
        begin = after;
    }
    std::size_t end = text.size();
    while (end > begin) {
        std::size_t before = end;
        char32_t c = 0;
        if (!previous(text, before, c) || !isWhitespaceOrNewline(c)) {
            break;
        }
        end = before;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string trimmedSpacesAndTabs(std::string_view text) {
    auto begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) {
        return {};
    }
    auto end = text.find_last_not_of(" \t");
    return std::string(text.substr(begin, end - begin + 1));
}

namespace {

/// A fresh character break iterator. One is made once and cloned per call: cloning is cheap and,
/// unlike creation, does not go through ICU's service cache every time.
std::unique_ptr<icu::BreakIterator> characterBreaks() {
    static const auto prototype = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> breaks(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(breaks) : nullptr;
    }();
    return prototype ? std::unique_ptr<icu::BreakIterator>(prototype->clone()) : nullptr;
}

/// A character break iterator over UTF-8 text in place: its boundaries are byte offsets.
class Characters {
public:
    explicit Characters(std::string_view text) {
        UErrorCode status = U_ZERO_ERROR;
        utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
        iterator = characterBreaks();
        if (U_SUCCESS(status) && iterator) {
            iterator->setText(utext, status);
        }
        ok = U_SUCCESS(status) && iterator;
    }
    ~Characters() { utext_close(utext); }
    Characters(const Characters&) = delete;
    Characters& operator=(const Characters&) = delete;

    /// False when ICU could not be set up (no break data); callers then count code points.
    bool valid() const { return ok; }
    icu::BreakIterator& breaks() { return *iterator; }

private:
    UText* utext = nullptr;
    std::unique_ptr<icu::BreakIterator> iterator;
    bool ok = false;
};

std::size_t codePoints(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char c : text) {
        count += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

} // namespace

std::size_t length(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    Characters characters(text);
    if (!characters.valid()) {
        return codePoints(text);
    }
    std::size_t count = 0;
    auto& breaks = characters.breaks();
    breaks.first();
    while (breaks.next() != icu::BreakIterator::DONE) {
        ++count;
    }
    return count;
}

std::string_view firstCharacter(std::string_view text) {
    if (text.empty()) {
        return text;
    }
    Characters characters(text);
    if (!characters.valid()) {
        return text.substr(0, 1);
    }
    auto end = characters.breaks().following(0);
    return text.substr(0, end == icu::BreakIterator::DONE ? text.size() : static_cast<std::size_t>(end));
}

std::string_view lastCharacter(std::string_view text) {
    if (text.empty()) {
        return text;
    }
    Characters characters(text);
    if (!characters.valid()) {
        return text.substr(text.size() - 1);
    }
    auto start = characters.breaks().preceding(static_cast<int32_t>(text.size()));
    auto at = start == icu::BreakIterator::DONE ? 0 : static_cast<std::size_t>(start);
    return text.substr(at);
}

std::vector<std::string_view> characters(std::string_view text) {
    std::vector<std::string_view> result;
    Characters breaks(text);
    if (!breaks.valid()) {
        for (std::size_t at = 0, end = 0; at < text.size(); at = end) {
            char32_t c = 0;
            end = at;
            if (!next(text, end, c))
                end = at + 1;
            result.push_back(text.substr(at, end - at));
        }
        return result;
    }
    auto& iterator = breaks.breaks();
    int32_t start = iterator.first();
    for (int32_t end = iterator.next(); end != icu::BreakIterator::DONE; start = end, end = iterator.next())
        result.push_back(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
    return result;
}

std::vector<icu::UnicodeString> characters(const icu::UnicodeString& text) {
    std::vector<icu::UnicodeString> result;
    auto breaks = characterBreaks();
    if (!breaks) {
        for (int32_t at = 0; at < text.length(); at = text.moveIndex32(at, 1))
            result.emplace_back(text, at, text.moveIndex32(at, 1) - at);
        return result;
    }
    breaks->setText(text);
    int32_t start = breaks->first();
    for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE; start = end, end = breaks->next())
        result.emplace_back(text, start, end - start);
    return result;
}

bool isValidUtf8(std::string_view bytes) {
    std::size_t offset = 0;
    char32_t c = 0;
    while (offset < bytes.size()) {
        if (!next(bytes, offset, c)) {
            return false;
        }
    }
    return true;
}

} // namespace core::unicode
