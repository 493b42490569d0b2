#pragma once

#include <iosfwd>

/// `ruvex-voice --diagnose`: what the program would use on this desktop and whether dictation can
/// work, one Russian line per part (session, trigger key, paste, clipboard, pill, microphone, speech
/// model, AI key), for the user and for bug reports. Runs without a display and says what it cannot
/// check then. The AI key itself is never printed, only whether one is stored.
namespace app::cli::Diagnose {

/// Prints the report on `out`; 0 when dictation can work, 1 otherwise.
int run(std::ostream& out);

} // namespace app::cli::Diagnose
