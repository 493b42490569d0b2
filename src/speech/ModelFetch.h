#pragma once

#include "speech/ModelStore.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
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

/// An advisory lock on a model folder, held by one downloader at a time for its whole download,
/// so that two processes never fetch into one folder or clear away each other's partial files.
/// Released when the object goes (and by the system when the process ends, however it ends).
class DownloadLock {
public:
    /// Waits until no other downloader holds the folder's lock, then holds it. None once
    /// `cancelled` turns true while waiting. When the lock file cannot be opened (the folder is
    /// missing or not writable) the result holds nothing: the download then fails on its own.
    static std::unique_ptr<DownloadLock> acquire(const std::filesystem::path& directory,
                                                 const std::atomic<bool>& cancelled);
    ~DownloadLock();
    DownloadLock(const DownloadLock&) = delete;
    DownloadLock& operator=(const DownloadLock&) = delete;

private:
    explicit DownloadLock(int fd) : fd(fd) {}
    int fd;
};

/// True when some downloader holds the lock of `directory` now.
bool isDownloadRunning(const std::filesystem::path& directory);

/// The name of the lock file kept in a model folder.
constexpr const char* downloadLockName = ".download.lock";

/// How the name of a partial download of the file called `name` begins.
std::string partialFilePrefix(const std::string& name);

/// The damage message for the file called `name`: bad status, size or digest.
std::string damageMessage(const std::string& name);

} // namespace speech
