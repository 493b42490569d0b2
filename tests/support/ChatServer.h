#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

/// A chat-completions service on 127.0.0.1 for tests: answers POST /chat/completions with
/// whatever `respond` decides and records every request it received.
class ChatServer {
public:
    struct Request {
        std::string path;
        std::string authorization;
        std::string contentType;
        std::string body;
    };
    using Respond = std::function<void(const httplib::Request&, httplib::Response&)>;

    explicit ChatServer(Respond respond = reply("готово"))
        : ChatServer(std::make_unique<httplib::Server>(), "http", std::move(respond)) {}

    /// The same over TLS, with this certificate and key (PEM files).
    ChatServer(const std::string& certificate, const std::string& key, Respond respond)
        : ChatServer(std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str()), "https",
                     std::move(respond)) {}

    ~ChatServer() {
        release();
        server->stop();
        thread.join();
    }

    ChatServer(const ChatServer&) = delete;
    ChatServer& operator=(const ChatServer&) = delete;

    /// The base URL to put in RUVEX_VOICE_AI_URL.
    std::string url() const { return scheme + "://127.0.0.1:" + std::to_string(port); }

    void setRespond(Respond value) {
        std::lock_guard lock(mutex);
        respond = std::move(value);
    }

    std::vector<Request> requests() const {
        std::lock_guard lock(mutex);
        return received;
    }

    /// A well-formed reply whose first choice says `content`.
    static std::string body(const nlohmann::json& content) {
        return nlohmann::json{
            {"id", "test"},
            {"choices", nlohmann::json::array({{{"index", 0},
                                                {"message", {{"role", "assistant"}, {"content", content}}},
                                                {"finish_reason", "stop"}}})}}
            .dump();
    }

    /// Answers every request with status 200 and `content`.
    static Respond reply(const std::string& content) { return raw(200, body(content)); }

    /// Answers every request with this status and body.
    static Respond raw(int status, std::string text) {
        return [status, text](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_content(text, "application/json");
        };
    }

    /// A handler that holds its answer until `release()` is called, then answers with `then`.
    Respond heldUntilReleased(Respond then) {
        return [this, then](const httplib::Request& request, httplib::Response& response) {
            std::unique_lock lock(mutex);
            // Bounded, so that a test that forgets to release cannot hang the server's shutdown.
            released.wait_for(lock, std::chrono::seconds(60), [this] { return isReleased; });
            lock.unlock();
            then(request, response);
        };
    }

    void release() {
        {
            std::lock_guard lock(mutex);
            isReleased = true;
        }
        released.notify_all();
    }

private:
    ChatServer(std::unique_ptr<httplib::Server> created, std::string scheme, Respond respond)
        : server(std::move(created)), scheme(std::move(scheme)), respond(std::move(respond)) {
        server->Post("/chat/completions", [this](const httplib::Request& request, httplib::Response& response) {
            Respond current;
            {
                std::lock_guard lock(mutex);
                received.push_back({request.path, request.get_header_value("Authorization"),
                                    request.get_header_value("Content-Type"), request.body});
                current = this->respond;
            }
            current(request, response);
        });
        port = server->bind_to_any_port("127.0.0.1");
        // The socket is listening once bound: requests wait in its backlog until the loop starts.
        thread = std::thread([this] { server->listen_after_bind(); });
        // stop() is ignored until the loop runs, so the destructor needs it running.
        while (!server->is_running()) {
            std::this_thread::yield();
        }
    }

    std::unique_ptr<httplib::Server> server;
    std::string scheme;
    mutable std::mutex mutex;
    std::condition_variable released;
    bool isReleased = false;
    Respond respond;
    std::vector<Request> received;
    int port = 0;
    std::thread thread;
};

/// A socket listening on 127.0.0.1 at a port of the system's choice, which it writes to `port`.
inline int loopbackListener(int& port) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 8);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

/// A listener on 127.0.0.1 that accepts each connection, reads the request's first bytes and
/// closes it without an answer, as a service that drops the connection does.
class DroppingServer {
public:
    DroppingServer() : listener(loopbackListener(port)) {
        thread = std::thread([this] {
            for (int connection; (connection = ::accept(listener, nullptr, nullptr)) >= 0;) {
                char buffer[256];
                [[maybe_unused]] auto ignored = ::recv(connection, buffer, sizeof buffer, 0);
                ::close(connection);
                std::lock_guard lock(mutex);
                ++accepted;
            }
        });
    }
    ~DroppingServer() {
        ::shutdown(listener, SHUT_RDWR);
        thread.join();
        ::close(listener);
    }
    DroppingServer(const DroppingServer&) = delete;
    DroppingServer& operator=(const DroppingServer&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port); }
    int connections() const {
        std::lock_guard lock(mutex);
        return accepted;
    }

private:
    int port = 0;
    int listener = -1;
    mutable std::mutex mutex;
    int accepted = 0;
    std::thread thread;
};

/// A loopback address where nothing listens: the port of a listener that was closed again.
inline std::string unreachableURL() {
    int port = 0;
    ::close(loopbackListener(port));
    return "http://127.0.0.1:" + std::to_string(port);
}

} // namespace testsupport
