#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace testsupport {

/// An HTTP server on 127.0.0.1 that serves model files from memory under /files/<name>, with a
/// redirect to them under /moved/<name>, and can misbehave per file. Counts the requests.
class ModelServer {
public:
    enum class Mode {
        serve,       ///< 200 with the file
        notFound,    ///< 404 with a small text body
        dropHalfway, ///< announces the whole length, sends half, then closes the connection
        stall,       ///< sends half, then waits until release() or the server stops
    };

    /// With `tls`, serves HTTPS with a freshly made self-signed certificate that no client trusts.
    explicit ModelServer(bool tls = false);
    ~ModelServer();
    ModelServer(const ModelServer&) = delete;
    ModelServer& operator=(const ModelServer&) = delete;

    void put(const std::string& name, std::string contents, Mode mode = Mode::serve);
    void setMode(const std::string& name, Mode mode);

    /// "http://127.0.0.1:<port>/files/" (or "/moved/"; "https" with tls).
    std::string baseURL(bool redirected = false) const;

    /// Requests seen for `name` under /files/ (redirected requests count once there too).
    int requests(const std::string& name) const;
    /// Requests for anything under /files/.
    int totalRequests() const;
    /// Requests under /moved/.
    int redirects() const;

    /// Lets stalled responses go on (they then end the connection).
    void release();

private:
    struct Entry {
        std::string contents;
        Mode mode = Mode::serve;
    };

    mutable std::mutex mutex;
    std::condition_variable released;
    bool releasing = false;
    std::map<std::string, Entry> entries;
    std::map<std::string, int> counts;
    int redirectCount = 0;
    std::unique_ptr<httplib::Server> server;
    int port = 0;
    bool tls = false;
    std::thread listener;
};

} // namespace testsupport
