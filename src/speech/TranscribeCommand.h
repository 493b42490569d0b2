#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

/// `ruvex-voice --transcribe [--model DIR] FILE...`: the dictation path run on audio files, without
/// a display. Each file is fed to a dictation session in 20 ms chunks as a microphone would, then
/// cleaned and corrected with the user's dictionary; the dictionary's terms are used as hotwords.
namespace speech::TranscribeCommand {

/// Runs the mode with the arguments that follow "--transcribe". Prints one line of text per file
/// on `out` and one Russian line per failure on `err`; files after a failed one are still done.
/// Returns 0 when every file was transcribed, 1 when any failed, 2 for bad arguments.
int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

/// The model folder used without --model: the model store's folder under the application data.
std::filesystem::path defaultModelDirectory();

} // namespace speech::TranscribeCommand
