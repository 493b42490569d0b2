#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace core {

/// Writes `contents` to `file` atomically: a temporary file in the same folder is written, flushed
/// to disk and renamed over the target, so readers see the old or the new file, never a mix.
/// Creates missing parent folders. On failure the old file is unchanged, no temporary file is
/// left behind, and the error is returned.
std::error_code writeFileAtomically(const std::filesystem::path& file, std::string_view contents);

/// The same, reporting only success.
inline bool writeAtomically(const std::filesystem::path& file, std::string_view contents) {
    return !writeFileAtomically(file, contents);
}

} // namespace core
