#pragma once

// What the fuzz targets share: cutting an input into parts, checking invariants, scratch files.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

/// Ends the run when `holds` is false, so that the fuzzer keeps the input as a finding. A broken
/// invariant is a fault like a crash: the message names it.
void check(bool holds, const char* invariant);

/// The input as text.
inline std::string_view text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

/// `data` cut at each `separator`, into at most `most` parts (the last keeps the rest).
std::vector<std::string_view> split(std::string_view data, char separator, std::size_t most);

/// A folder of this process for scratch files, on a memory file system when there is one.
const std::filesystem::path& scratch();

void writeFile(const std::filesystem::path& file, std::string_view contents);
std::string readFile(const std::filesystem::path& file);

/// True when `text` is well-formed UTF-8.
bool isUtf8(std::string_view text);

} // namespace fuzz
