#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace speech {

/// The SHA-256 of a whole file as 64 lowercase hexadecimal digits, read in 4 MiB chunks so that
/// memory stays small for the 224 MB encoder. None when the file cannot be opened. A read error
/// ends the reading early; the digest of what was read is returned and will not match.
/// Runs on the calling thread; safe from any thread.
std::optional<std::string> sha256(const std::filesystem::path& file);

/// The size of one read.
inline constexpr std::size_t sha256ChunkSize = 4194304;

} // namespace speech
