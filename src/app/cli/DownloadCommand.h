#pragma once

#include <cstdio>

namespace app::cli {

/// `ruvex-voice --download-model`: downloads the model files that are missing into the model
/// folder, verifies every file, and returns the exit status: 0 when the model is ready, 1 with
/// the line "Модель речи не скачалась: " + the reason on `err` otherwise. Progress goes to `out`:
/// a bar redrawn in place when `out` is a terminal, else a plain line every tenth of the way.
/// Runs its own main loop on the calling thread; needs no display.
int runDownloadCommand(std::FILE* out = stdout, std::FILE* err = stderr);

} // namespace app::cli
