#include "text/Vocabulary.h"

#include "core/Unicode.h"

#include "core/AtomicFile.h"
#include "core/Paths.h"

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>
#include <unordered_set>

namespace text {

namespace {

bool isSpaceOrTab(UChar32 c) {
    return c == 0x09 || u_charType(c) == U_SPACE_SEPARATOR;
}

/// Trims spaces and tabs (including the Unicode space separators such as no-break space).
std::string_view trim(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !isSpaceOrTab(c)) {
            break;
        }
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !isSpaceOrTab(c)) {
            break;
        }
        end = previous;
    }
    return text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
}

/// Splits at every newline character: U+000A to U+000D, U+0085, U+2028 and U+2029.
std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        size_t width = 0;
        if (byte >= 0x0A && byte <= 0x0D) {
            width = 1;
        } else if (text.compare(i, 2, "\xC2\x85") == 0) {
            width = 2;
        } else if (text.compare(i, 3, "\xE2\x80\xA8") == 0 || text.compare(i, 3, "\xE2\x80\xA9") == 0) {
            width = 3;
        }
        if (width == 0) {
            ++i;
            continue;
        }
        result.push_back(text.substr(start, i - start));
        i += width;
        start = i;
    }
    result.push_back(text.substr(start));
    return result;
}

std::optional<std::string> readUTF8(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    std::string contents = buffer.str();
    if (!core::unicode::isValidUtf8(contents)) {
        return std::nullopt;
    }
    return contents;
}

/// Makes every character of `text` literal in an ICU pattern.
icu::UnicodeString escapedPattern(const icu::UnicodeString& text) {
    static const icu::UnicodeString metacharacters(u"\\^$.|?*+()[]{}");
    icu::UnicodeString result;
    for (int32_t i = 0; i < text.length(); ++i) {
        if (metacharacters.indexOf(text[i]) >= 0) {
            result.append(u'\\');
        }
        result.append(text[i]);
    }
    return result;
}

/// The letters and digits of every script as a case-insensitive ICU expression sees them: ICU closes
/// each set of such an expression over case (which adds U+0345 to "[\p{L}\p{N}]").
const icu::UnicodeSet& lettersAndDigits() {
    static const auto set = [] {
        UErrorCode status = U_ZERO_ERROR;
        auto result = std::make_unique<icu::UnicodeSet>(icu::UnicodeString(u"[\\p{L}\\p{N}]"), status);
        if (U_FAILURE(status)) {
            std::abort();
        }
        result->closeOver(USET_CASE_INSENSITIVE);
        result->removeAllStrings();
        result->freeze();
        return result;
    }();
    return *set;
}

/// True when no letter or digit stands directly before `start` or at `end`.
bool standsAlone(const icu::UnicodeString& text, int32_t start, int32_t end) {
    const auto& word = lettersAndDigits();
    return (start == 0 || !word.contains(text.char32At(start - 1))) &&
           (end >= text.length() || !word.contains(text.char32At(end)));
}

/// Every match of `heard` that no letter or digit touches, left to right and not overlapping,
/// replaced by `written` taken literally. This is what "(?<![\p{L}\p{N}])heard(?![\p{L}\p{N}])"
/// does, but the look-arounds are checked here: compiling them case-insensitively costs ICU about
/// ten milliseconds per rule, far more than the whole dictation's text takes to process.
/// Nothing when ICU fails, or when the result would be longer than `longest` code units, which
/// sets `tooLong`.
std::optional<icu::UnicodeString> replaceLiterally(const icu::RegexPattern& heard, const icu::UnicodeString& text,
                                                   const icu::UnicodeString& written, int64_t longest, bool& tooLong) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(heard.matcher(text, status));
    if (U_FAILURE(status) || !matcher) {
        return std::nullopt;
    }
    icu::UnicodeString result;
    int32_t copied = 0;
    int32_t from = 0;
    while (from < text.length() && matcher->find(from, status) && U_SUCCESS(status)) {
        int32_t start = matcher->start(status);
        int32_t end = matcher->end(status);
        if (end > start && standsAlone(text, start, end)) {
            if (int64_t{result.length()} + (start - copied) + written.length() > longest) {
                tooLong = true;
                return std::nullopt;
            }
            result.append(text, copied, start - copied).append(written);
            copied = from = end;
        } else {
            // The expression would try again one character further on.
            from = text.moveIndex32(start, 1);
        }
    }
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    if (int64_t{result.length()} + (text.length() - copied) > longest) {
        tooLong = true;
        return std::nullopt;
    }
    result.append(text, copied, text.length() - copied);
    return result;
}

std::string describe(const std::error_code& error) {
    switch (error.value()) {
    case EACCES:
    case EPERM:
    case EROFS:
        return "нет прав на запись в папку";
    case ENOSPC:
    case EDQUOT:
        return "нет места на диске";
    case ENOTDIR:
    case EEXIST:
        return "вместо папки словаря лежит файл";
    default:
        return "не удалось записать файл (" + error.message() + ")";
    }
}

/// The term as a hotwords line the recogniser can read: it takes a word beginning with ":" for a
/// score, drops the whole file when one opens a line and aborts the process when one is not a
/// number ("улыбка :)"). Such words are left out of the line; the term itself stays as the user
/// wrote it everywhere else.
std::string hotwordLine(std::string_view term) {
    std::string line;
    size_t i = 0;
    while (i < term.size()) {
        size_t start = term.find_first_not_of(" \t", i);
        if (start == std::string_view::npos) {
            break;
        }
        size_t end = std::min(term.find_first_of(" \t", start), term.size());
        std::string_view word = term.substr(start, end - start);
        if (word.front() != ':') {
            if (!line.empty()) {
                line += ' ';
            }
            line += word;
        }
        i = end;
    }
    return line;
}

} // namespace

Vocabulary::Vocabulary(const std::string& text) {
    std::string_view body = text;
    // Editors on Linux may save a byte-order mark; it is not part of the first line.
    if (body.substr(0, 3) == "\xEF\xBB\xBF") {
        body.remove_prefix(3);
    }
    static constexpr std::string_view arrow = "\xE2\x86\x92"; // →
    static constexpr std::string_view asciiArrow = "->";
    std::unordered_set<std::string_view> seen; // views into `text`, which outlives the loop
    for (auto raw : lines(body)) {
        auto line = trim(raw);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        size_t at = line.find(arrow);
        size_t width = arrow.size();
        if (at == std::string_view::npos) {
            at = line.find(asciiArrow);
            width = asciiArrow.size();
        }
        if (at != std::string_view::npos) {
            auto heard = trim(line.substr(0, at));
            auto written = trim(line.substr(at + width));
            if (!heard.empty()) {
                replacements.push_back({std::string(heard), std::string(written)});
            }
            continue;
        }
        if (seen.insert(line).second) {
            terms.emplace_back(line);
        }
    }
}

std::filesystem::path Vocabulary::file() {
    return core::paths::applicationSupport() / "Словарь.txt";
}

const std::string& Vocabulary::templateText() {
    static const std::string text =
        "# Словарь Ruvex Voice. Одна строка: одно слово или замена. Строки с # не читаются.\n"
        "#\n"
        "# Термин: как слово должно писаться. Модель будет его ждать, но только там, где "
        "он звучит.\n"
        "#   Ruvex\n"
        "#   Вальмо Фонд\n"
        "#\n"
        "# Замена: что распознается → как написать. Срабатывает всегда и точно.\n"
        "#   в гид → в Git\n"
        "#   эс эр о → СРО\n";
    return text;
}

Vocabulary Vocabulary::load() {
    auto contents = readUTF8(file());
    return contents ? Vocabulary(*contents) : Vocabulary();
}

std::string Vocabulary::text() {
    auto contents = readUTF8(file());
    return contents ? *contents : templateText();
}

void Vocabulary::save(const std::string& text) {
    auto target = file();
    std::error_code error;
    std::filesystem::create_directories(target.parent_path(), error);
    // A file the editor could not show (not UTF-8) was never seen by the user: keep it aside
    // rather than replace it unseen.
    if (!error && std::filesystem::exists(target) && !readUTF8(target)) {
        std::filesystem::rename(target, target.string() + ".bad", error);
    }
    if (!error) {
        error = core::writeFileAtomically(target, text);
    }
    if (error) {
        throw SaveError(describe(error));
    }
}

std::string Vocabulary::apply(const std::string& text) const {
    if (replacements.empty()) {
        return text;
    }
    icu::UnicodeString current = icu::UnicodeString::fromUTF8(text);
    const int64_t longest = growthFactor * int64_t{current.length()} + growthAllowance;
    // A case-insensitive match is a run whose case folding equals the folded `heard`, so a rule
    // whose folded text does not occur in the folded dictation cannot fire. Most rules do not, and
    // this plain search saves compiling and running their expressions.
    icu::UnicodeString folded = icu::UnicodeString(current).foldCase();
    // A rule repeated in the file would fire again on its own output ("а → а а" doubles the text).
    std::unordered_set<std::string> applied;
    for (const auto& replacement : replacements) {
        if (!applied.insert(replacement.heard + '\0' + replacement.written).second) {
            continue;
        }
        icu::UnicodeString heard = icu::UnicodeString::fromUTF8(replacement.heard);
        if (folded.indexOf(icu::UnicodeString(heard).foldCase()) < 0) {
            continue;
        }
        icu::UnicodeString pattern = escapedPattern(heard);
        UErrorCode status = U_ZERO_ERROR;
        UParseError where;
        std::unique_ptr<icu::RegexPattern> compiled(
            icu::RegexPattern::compile(pattern, UREGEX_CASE_INSENSITIVE, where, status));
        if (U_FAILURE(status) || !compiled) {
            continue;
        }
        icu::UnicodeString written = icu::UnicodeString::fromUTF8(replacement.written);
        bool tooLong = false;
        auto replaced = replaceLiterally(*compiled, current, written, longest, tooLong);
        if (tooLong) {
            // Rules that keep growing the text feed on each other; the text before this one stays.
            break;
        }
        if (replaced && *replaced != current) {
            current = *replaced;
            folded = icu::UnicodeString(current).foldCase();
        }
    }
    std::string result;
    current.toUTF8String(result);
    return result;
}

std::optional<std::filesystem::path> Vocabulary::writeTermsFile() const {
    std::string contents;
    std::unordered_set<std::string> written;
    for (const auto& term : terms) {
        auto line = hotwordLine(term);
        if (line.empty() || !written.insert(line).second) {
            continue;
        }
        contents += line + "\n";
    }
    if (written.empty()) {
        return std::nullopt;
    }
    auto location = file().parent_path() / "terms.txt";
    if (!core::writeAtomically(location, contents)) {
        return std::nullopt;
    }
    return location;
}

} // namespace text
