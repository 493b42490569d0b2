#pragma once

#include "speech/OnnxModel.h"

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

/// True when an encoder's metadata holds what the transducer loader requires (vocab_size,
/// subsampling_factor, pred_rnn_layers, pred_hidden as non-negative integers; optional is_giga_am
/// and feat_dim likewise; a known normalize_type) and vocab_size + 1 is the number of tokens.
bool encoderFits(const std::map<std::string, std::string>& metadata, size_t tokenCount);

/// True when the encoder, decoder and joiner graphs declare what the transducer loader and its
/// decoding feed them and read from them, so that the library neither ends the process nor fails
/// at every piece: the encoder takes float features [N, 64, T] (or its feat_dim) and int64 lengths
/// [N] and gives float [N, D, T'] and int32 or int64 lengths; the decoder takes int32 [1, 1] and
/// [1] and two float states [L, 1, H] (L and H from the encoder's pred_rnn_layers and
/// pred_hidden) and gives a float output and the two states back; the joiner takes a float
/// encoder frame [1, D, 1] and the decoder's output and gives float scores whose declared last
/// dimension is exactly `tokenCount`. Names must be present and distinct; sizes that are not
/// declared fit anything. `encoder`'s metadata must already have passed `encoderFits`.
bool graphsFit(const OnnxModel& encoder, const OnnxModel& decoder, const OnnxModel& joiner, size_t tokenCount);

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
