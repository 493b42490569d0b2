#pragma once

#include <unicode/unistr.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// Small Unicode helpers on UTF-8 text (and ICU strings), callable from any thread. User-perceived
/// characters are ICU's extended grapheme clusters everywhere in the program.
namespace core::unicode {

/// True for white space and line breaks: the space separators, the line and paragraph
/// separators, tab, line feed, vertical tab, form feed, carriage return and U+0085.
bool isWhitespaceOrNewline(char32_t c);

/// `text` without white space and line breaks at either end.
std::string trimmed(std::string_view text);

/// `text` without spaces and tabs at either end.
std::string trimmedSpacesAndTabs(std::string_view text);

/// The number of user-perceived characters (grapheme clusters).
std::size_t length(std::string_view text);

/// The first and the last user-perceived character of `text` (empty for an empty text).
std::string_view firstCharacter(std::string_view text);
std::string_view lastCharacter(std::string_view text);

/// `text` cut into user-perceived characters, in order.
std::vector<std::string_view> characters(std::string_view text);
std::vector<icu::UnicodeString> characters(const icu::UnicodeString& text);

/// True when `bytes` is well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

} // namespace core::unicode
