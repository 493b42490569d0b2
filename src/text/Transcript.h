#pragma once

#include <string>
#include <vector>

/// Pure text operations on Russian dictation (UTF-8 in, UTF-8 out); callable from any thread.
namespace text::Transcript {

/// Joins the recognised texts of the pieces of one dictation, in spoken order, repairing the stray
/// period and capital that a pause leaves at each seam. Empty when every piece is blank.
std::string joinPieces(const std::vector<std::string>& pieces);

/// Removes hesitation sounds and filler words, folds runs of white space and capitalises sentence
/// starts. Empty when nothing is left.
std::string cleanLocally(const std::string& text);

/// True when the text holds a spoken self-correction ("до пятницы, нет, до четверга").
bool needsAI(const std::string& text);

} // namespace text::Transcript
