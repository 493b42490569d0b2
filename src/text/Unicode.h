#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// Small Unicode helpers on UTF-8 text, callable from any thread.
namespace text::unicode {

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

/// True when `bytes` is well-formed UTF-8.
bool isValidUtf8(std::string_view bytes);

} // namespace text::unicode
