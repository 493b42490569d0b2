#include "speech/ModelFetch.h"

#include "core/AtomicFile.h"
#include "speech/ModelStamps.h"
#include "speech/Sha256.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace speech {

namespace {

/// A temporary file inside the model folder, removed when it goes unless it was moved into place.
class TemporaryFile {
public:
    TemporaryFile(const std::filesystem::path& directory, const std::string& name)
        : path((directory / (partialFilePrefix(name) + "XXXXXX")).string()) {
        fd = ::mkstemp(path.data());
        error = fd < 0 ? errno : 0;
    }
    ~TemporaryFile() {
        closeFile();
        if (!moved && error == 0) {
            ::unlink(path.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    /// Closes the descriptor; returns the error of the close, or 0.
    int closeFile() {
        if (fd < 0) {
            return 0;
        }
        int result = ::close(fd) == 0 ? 0 : errno;
        fd = -1;
        return result;
    }

    /// Renames the file to `destination`; returns 0 or the error.
    int moveTo(const std::filesystem::path& destination) {
        if (::rename(path.c_str(), destination.c_str()) != 0) {
            return errno;
        }
        moved = true;
        return 0;
    }

    std::string path;
    int fd = -1;
    int error = 0; ///< why the file could not be created, or 0
    bool moved = false;
};

/// What the transfer callbacks share with the code that runs the transfer, on the same thread.
struct Sink {
    CURL* curl = nullptr;
    int fd = -1;
    std::int64_t limit = 0; ///< the table size: more than this cannot be the right file
    std::int64_t written = 0;
    bool badStatus = false;
    bool oversize = false;
    int writeError = 0;
    const std::function<void(std::int64_t)>* progress = nullptr;
    const std::atomic<bool>* cancelled = nullptr;
};

std::size_t writeBody(char* data, std::size_t, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    long status = 0;
    curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status);
    // An error page is not the file: stop at once instead of storing it.
    if (status != 200) {
        sink->badStatus = true;
        return 0;
    }
    if (sink->written + static_cast<std::int64_t>(count) > sink->limit) {
        sink->oversize = true;
        return 0;
    }
    std::size_t left = count;
    while (left > 0) {
        ssize_t done = ::write(sink->fd, data + (count - left), left);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            sink->writeError = errno;
            return 0;
        }
        left -= static_cast<std::size_t>(done);
    }
    sink->written += static_cast<std::int64_t>(count);
    (*sink->progress)(sink->written);
    return count;
}

int checkCancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* sink = static_cast<Sink*>(user);
    return sink->cancelled->load() ? 1 : 0;
}

std::string fileErrorMessage(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "не хватает места на диске";
    case EACCES:
    case EPERM:
    case EROFS:
        return "нет прав на запись в папку модели";
    case ENOENT:
    case ENOTDIR:
    case EEXIST:
        return "не удалось создать папку модели";
    default:
        return "не удалось записать файл модели";
    }
}

std::string transportMessage(CURLcode code, const char* detail) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return "нет соединения с сервером";
    case CURLE_OPERATION_TIMEDOUT:
        return "сервер не ответил вовремя";
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return "соединение прервалось";
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        return "не удалось проверить подлинность сервера";
    case CURLE_TOO_MANY_REDIRECTS:
        return "сервер слишком много раз перенаправил запрос";
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return "неверный адрес сервера модели";
    default:
        return std::string("ошибка сети: ") + (detail[0] != '\0' ? detail : curl_easy_strerror(code));
    }
}

struct CurlFree {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

} // namespace

namespace {

int openLockFile(const std::filesystem::path& directory) {
    return ::open((directory / downloadLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

bool tryLock(int fd) {
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

} // namespace

std::unique_ptr<DownloadLock> DownloadLock::acquire(const std::filesystem::path& directory,
                                                    const std::atomic<bool>& cancelled) {
    int fd = openLockFile(directory);
    if (fd < 0) {
        return std::unique_ptr<DownloadLock>(new DownloadLock(-1));
    }
    // Polled rather than blocking, so that a store being destroyed stops waiting.
    while (!tryLock(fd)) {
        if (cancelled.load()) {
            ::close(fd);
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return std::unique_ptr<DownloadLock>(new DownloadLock(fd));
}

DownloadLock::~DownloadLock() {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool isDownloadRunning(const std::filesystem::path& directory) {
    int fd = ::open((directory / downloadLockName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    bool running = !tryLock(fd);
    ::close(fd);
    return running;
}

std::string partialFilePrefix(const std::string& name) {
    return "." + name + ".part-";
}

std::string damageMessage(const std::string& name) {
    return "файл " + name + " пришел поврежденным";
}

namespace {

/// Runs the HTTP transfer of `request` into `temporary`. None when a body of status 200 and at
/// most the table size arrived whole, else the failure message.
std::optional<std::string> transfer(const FetchRequest& request, TemporaryFile& temporary,
                                    const std::function<void(std::int64_t)>& progress,
                                    const std::atomic<bool>& cancelled) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
    if (!curl) {
        return "ошибка сети: не удалось начать загрузку";
    }
    CURL* handle = curl.get();
    Sink sink{handle, temporary.fd, request.file.size, 0, false, false, 0, &progress, &cancelled};
    char detail[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // The model host answers with a redirect to its content server.
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 30L);
    // No overall limit, the encoder takes long on a slow line; a transfer stalled for a minute is dead.
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "ruvex-voice");
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, detail);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, checkCancelled);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &sink);

    CURLcode result = curl_easy_perform(handle);
    if (cancelled.load()) {
        return "загрузка отменена";
    }
    if (sink.badStatus || sink.oversize) {
        return damageMessage(request.file.name);
    }
    if (result != CURLE_OK) {
        if (result == CURLE_WRITE_ERROR && sink.writeError != 0) {
            return fileErrorMessage(sink.writeError);
        }
        return transportMessage(result, detail);
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        return damageMessage(request.file.name);
    }
    return std::nullopt;
}

/// Checks the size and digest of the fetched file and moves it into place. None on success.
std::optional<std::string> place(const FetchRequest& request, TemporaryFile& temporary) {
    const auto& file = request.file;
    struct stat info {};
    if (::fstat(temporary.fd, &info) != 0 || info.st_size != file.size) {
        return damageMessage(file.name);
    }
    // mkstemp makes the file private: model files get what the user's umask gives new files. The
    // data must be on disk before the rename makes it count.
    if (::fchmod(temporary.fd, core::newFileMode()) != 0 || ::fsync(temporary.fd) != 0) {
        return fileErrorMessage(errno);
    }
    if (int error = temporary.closeFile(); error != 0) {
        return fileErrorMessage(error);
    }
    auto digest = sha256(temporary.path);
    if (!digest || *digest != file.sha256) {
        return damageMessage(file.name);
    }
    if (int error = temporary.moveTo(request.directory / file.name); error != 0) {
        return fileErrorMessage(error);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> fetchModelFile(const FetchRequest& request,
                                          const std::function<void(std::int64_t)>& progress,
                                          const std::atomic<bool>& cancelled) {
    TemporaryFile temporary(request.directory, request.file.name);
    if (temporary.error != 0) {
        return fileErrorMessage(temporary.error);
    }
    if (auto failure = transfer(request, temporary, progress, cancelled)) {
        return failure;
    }
    if (auto failure = place(request, temporary)) {
        return failure;
    }
    // Recorded so that the first verification after the download does not hash the file again.
    if (auto stamp = FileStamp::of(request.directory / request.file.name)) {
        ModelStamps stamps(request.directory);
        stamps.record(request.file, *stamp);
        stamps.save();
    }
    return std::nullopt;
}

} // namespace speech
