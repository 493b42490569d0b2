#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace testsupport {

/// An HTTP(S) server on 127.0.0.1 for the tests, in this process: a chat-completions service under
/// POST /chat/completions, and model files under /files/<name> (redirected from /moved/<name>),
/// each able to misbehave. Records what it was asked.
class LoopbackServer {
public:
    /// How a model file is served.
    enum class Mode {
        serve,       ///< 200 with the file
        notFound,    ///< 404 with a small text body
        dropHalfway, ///< announces the whole length, sends half, then closes the connection
        stall,       ///< sends half, then waits until release() or the server stops
    };
    struct ChatRequest {
        std::string authorization;
        std::string contentType;
        std::string body;
    };
    using Respond = std::function<void(const httplib::Request&, httplib::Response&)>;

    /// With `tls`, serves HTTPS with a freshly made self-signed certificate that no client trusts.
    explicit LoopbackServer(bool tls = false);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    /// "http://127.0.0.1:<port>" ("https" with tls): the base for RUVEX_VOICE_AI_URL.
    std::string url() const;

    /// How chat requests are answered from now on (by default: reply("готово")).
    void setRespond(Respond respond);
    std::vector<ChatRequest> chatRequests() const;
    /// A well-formed chat reply body whose first choice says `content` (any JSON value).
    static std::string body(const std::string& contentJson);
    /// Answers with status 200 and the string `content`.
    static Respond reply(const std::string& content);
    /// Answers with this status and body.
    static Respond raw(int status, std::string text);
    /// Holds the answer until release(), then answers with `then`.
    Respond held(Respond then);

    void put(const std::string& name, std::string contents, Mode mode = Mode::serve);
    void setMode(const std::string& name, Mode mode);
    /// url() + "/files/" (or "/moved/").
    std::string filesURL(bool redirected = false) const;
    /// Requests seen for `name` under /files/.
    int fileRequests(const std::string& name) const;
    int totalFileRequests() const;
    int redirects() const;

    /// Lets held and stalled answers go on.
    void release();

private:
    struct Entry {
        std::string contents;
        Mode mode = Mode::serve;
    };
    void serveFile(const std::string& name, httplib::Response& response);

    mutable std::mutex mutex;
    std::condition_variable released;
    bool releasing = false;
    Respond respond;
    std::vector<ChatRequest> chats;
    std::map<std::string, Entry> entries;
    std::map<std::string, int> counts;
    int redirectCount = 0;
    bool tls = false;
    int port = 0;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
};

/// A loopback address where nothing listens: the port of a listener that was closed again.
std::string unreachableURL();

} // namespace testsupport
