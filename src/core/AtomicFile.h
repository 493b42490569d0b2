#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace core {

/// The mode a new file of this process gets: 0666 less the umask. Read without changing the
/// umask, so it is safe while other threads create files.
mode_t newFileMode();

/// Writes `contents` to `file` atomically: a temporary file in the same folder is written, flushed
/// to disk and renamed over the target, so readers see the old or the new file, never a mix.
/// Creates missing parent folders. A new file gets `newFileMode()`; a replaced one keeps its mode.
/// On failure the old file is unchanged, no temporary file is
/// left behind, and the error is returned.
std::error_code writeFileAtomically(const std::filesystem::path& file, std::string_view contents);

/// Reads the whole of `file` into `contents` when it is a regular file of at most `limit` bytes.
/// Returns the error otherwise: ENOENT when it is absent, EISDIR for a folder, EINVAL for any other
/// kind of file (a pipe is never opened for reading, so nothing can block), EFBIG when too large.
std::error_code readRegularFile(const std::filesystem::path& file, std::string& contents, std::size_t limit);

/// The same, reporting only success.
inline bool writeAtomically(const std::filesystem::path& file, std::string_view contents) {
    return !writeFileAtomically(file, contents);
}

} // namespace core
