#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

/// Cheap checks and derived files for a transducer model folder. The recogniser library ends the
/// process on many malformed inputs instead of failing, so the engine runs these first.
/// Pure functions on files; callable from any thread.
namespace speech::ModelFiles {

/// The token table read from tokens.txt: pieces indexed by id. Nothing when the file cannot be
/// read or has a shape the library would reject: a line with more than two fields, an empty line,
/// ids that are not exactly 0..n-1, or a "<blk>" that is missing or not the last id.
std::optional<std::vector<std::string>> readTokens(const std::filesystem::path& file);

/// True when every line of a bpe vocabulary holds a piece and a number, with no empty line.
bool isValidBpeVocab(const std::filesystem::path& file);

/// The metadata of an ONNX model file, when the file is a non-empty, well-formed protobuf message
/// as an ONNX model is: every top-level field has a known wire type and fits in the file, and the
/// graph field is present. Reads only the top-level field headers and the metadata entries, so it
/// is cheap for large models. Nothing when the file is missing or damaged.
std::optional<std::map<std::string, std::string>> readOnnxMetadata(const std::filesystem::path& file);

/// True when `readOnnxMetadata` accepts the file.
bool looksLikeOnnx(const std::filesystem::path& file);

/// True when an encoder's metadata holds what the transducer loader requires (vocab_size,
/// subsampling_factor, pred_rnn_layers, pred_hidden as non-negative integers; optional is_giga_am
/// and feat_dim likewise; a known normalize_type) and vocab_size + 1 is the number of tokens.
bool encoderFits(const std::map<std::string, std::string>& metadata, size_t tokenCount);

/// A bpe vocabulary made from the token table: every piece except "<blk>", each with the score -1,
/// which makes the encoder prefer the fewest, longest pieces.
std::string bpeVocabFor(const std::vector<std::string>& tokens);

/// The pieces of a bpe vocabulary file (first field of every line); nothing when unreadable.
std::optional<std::vector<std::string>> readBpePieces(const std::filesystem::path& file);

/// True when every word of `term`, prefixed with the word mark "▁", can be written entirely with
/// `pieces`, and no word starts with ":" (the hotwords format reads that as a score).
bool canSpell(const std::string& term, const std::vector<std::string>& pieces);

/// The non-blank lines of a terms file that `canSpell` accepts, in file order.
std::vector<std::string> spellableTerms(const std::string& termsText, const std::vector<std::string>& pieces);

} // namespace speech::ModelFiles
