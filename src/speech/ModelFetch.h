#pragma once

#include "speech/ModelStore.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace speech {

/// One model file to fetch: from `url` into `directory`, where it must arrive as `file`.
struct FetchRequest {
    std::string url;
    std::filesystem::path directory;
    ModelStore::File file;
};

/// Downloads one model file over HTTP(S) with libcurl, on the calling thread (the store's queue):
/// follows redirects, verifies the server's certificate, accepts only status 200, writes into a
/// private temporary file inside the folder, checks its size and SHA-256 against the table, and
/// only then moves it into place and records it as intact in the folder's stamp file. Any failure
/// removes the temporary file. `progress` is called on the same thread with the body bytes written
/// so far, each time that number grows. Returns none on success, else one short Russian line.
/// Returns early (with a message nobody needs to show) once `cancelled` becomes true.
std::optional<std::string> fetchModelFile(const FetchRequest& request,
                                          const std::function<void(std::int64_t written)>& progress,
                                          const std::atomic<bool>& cancelled);

/// How the name of a partial download of the file called `name` begins.
std::string partialFilePrefix(const std::string& name);

/// The damage message for the file called `name`: bad status, size or digest.
std::string damageMessage(const std::string& name);

} // namespace speech
