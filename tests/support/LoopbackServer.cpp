#include "support/LoopbackServer.h"

#include <httplib.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testsupport {

namespace {

/// A server whose certificate is self-signed for 127.0.0.1, made on the spot.
std::unique_ptr<httplib::Server> makeTlsServer() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    if (key == nullptr || certificate == nullptr)
        throw std::runtime_error("could not make a test certificate");
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* subject = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                               0);
    X509_set_issuer_name(certificate, subject);
    // Names the address itself, so that only the missing trust makes the client refuse it.
    X509_EXTENSION* names = X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, "IP:127.0.0.1");
    X509_add_ext(certificate, names, -1);
    X509_EXTENSION_free(names);
    X509_sign(certificate, key, EVP_sha256());
    auto server = std::make_unique<httplib::SSLServer>(certificate, key);
    X509_free(certificate);
    EVP_PKEY_free(key);
    if (!server->is_valid())
        throw std::runtime_error("the test TLS server is not valid");
    return server;
}

/// A socket listening on 127.0.0.1 at a port of the system's choice, which it writes to `port`.
int loopbackListener(int& port) {
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

} // namespace

LoopbackServer::LoopbackServer(bool tls)
    : respond(reply("готово")), tls(tls), server(tls ? makeTlsServer() : std::make_unique<httplib::Server>()) {
    server->Post("/chat/completions", [this](const httplib::Request& request, httplib::Response& response) {
        Respond current;
        {
            std::lock_guard lock(mutex);
            chats.push_back(
                {request.get_header_value("Authorization"), request.get_header_value("Content-Type"), request.body});
            current = respond;
        }
        current(request, response);
    });
    server->Get("/moved/(.+)", [this](const httplib::Request& request, httplib::Response& response) {
        {
            std::lock_guard lock(mutex);
            ++redirectCount;
        }
        response.set_redirect("/files/" + std::string(request.matches[1]), 302);
    });
    server->Get("/files/(.+)", [this](const httplib::Request& request, httplib::Response& response) {
        serveFile(request.matches[1], response);
    });
    port = server->bind_to_any_port("127.0.0.1");
    if (port <= 0)
        throw std::runtime_error("the test server could not bind to 127.0.0.1");
    // The socket listens once bound: requests wait in its backlog until the loop starts.
    listener = std::thread([this] { server->listen_after_bind(); });
    // stop() does nothing until the accept loop has started, and would then leave it running for ever.
    while (!server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackServer::~LoopbackServer() {
    release();
    server->stop();
    listener.join();
}

std::string LoopbackServer::url() const {
    return std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port);
}

void LoopbackServer::setRespond(Respond value) {
    std::lock_guard lock(mutex);
    respond = std::move(value);
}

std::vector<LoopbackServer::ChatRequest> LoopbackServer::chatRequests() const {
    std::lock_guard lock(mutex);
    return chats;
}

std::string LoopbackServer::body(const std::string& contentJson) {
    return R"({"id":"test","choices":[{"index":0,"message":{"role":"assistant","content":)" + contentJson +
           R"(},"finish_reason":"stop"}]})";
}

LoopbackServer::Respond LoopbackServer::reply(const std::string& content) {
    return raw(200, body(nlohmann::json(content).dump()));
}

LoopbackServer::Respond LoopbackServer::raw(int status, std::string text) {
    return [status, text](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_content(text, "application/json");
    };
}

LoopbackServer::Respond LoopbackServer::held(Respond then) {
    return [this, then](const httplib::Request& request, httplib::Response& response) {
        std::unique_lock lock(mutex);
        // Bounded, so that a test that forgets to release cannot hang the server's shutdown.
        released.wait_for(lock, std::chrono::seconds(60), [this] { return releasing; });
        lock.unlock();
        then(request, response);
    };
}

void LoopbackServer::serveFile(const std::string& name, httplib::Response& response) {
    Entry entry;
    {
        std::lock_guard lock(mutex);
        ++counts[name];
        auto found = entries.find(name);
        entry = found == entries.end() ? Entry{{}, Mode::notFound} : found->second;
    }
    auto data = std::make_shared<std::string>(std::move(entry.contents));
    switch (entry.mode) {
    case Mode::serve:
        response.set_content(*data, "application/octet-stream");
        return;
    case Mode::notFound:
        response.status = 404;
        response.set_content("Entry not found", "text/plain");
        return;
    case Mode::dropHalfway:
    case Mode::stall:
        bool stall = entry.mode == Mode::stall;
        response.set_content_provider(data->size(), "application/octet-stream",
                                      [this, data, stall](size_t offset, size_t length, httplib::DataSink& sink) {
                                          size_t half = data->size() / 2;
                                          if (offset < half) {
                                              sink.write(data->data() + offset, std::min(length, half - offset));
                                              return true;
                                          }
                                          if (stall) {
                                              std::unique_lock lock(mutex);
                                              released.wait(lock, [this] { return releasing; });
                                          }
                                          return false; // ends the connection with the body incomplete
                                      });
        return;
    }
}

void LoopbackServer::put(const std::string& name, std::string contents, Mode mode) {
    std::lock_guard lock(mutex);
    entries[name] = {std::move(contents), mode};
}

void LoopbackServer::setMode(const std::string& name, Mode mode) {
    std::lock_guard lock(mutex);
    entries[name].mode = mode;
}

std::string LoopbackServer::filesURL(bool redirected) const {
    return url() + (redirected ? "/moved/" : "/files/");
}

int LoopbackServer::fileRequests(const std::string& name) const {
    std::lock_guard lock(mutex);
    auto found = counts.find(name);
    return found == counts.end() ? 0 : found->second;
}

int LoopbackServer::totalFileRequests() const {
    std::lock_guard lock(mutex);
    int sum = 0;
    for (const auto& [name, count] : counts)
        sum += count;
    return sum;
}

int LoopbackServer::redirects() const {
    std::lock_guard lock(mutex);
    return redirectCount;
}

void LoopbackServer::release() {
    {
        std::lock_guard lock(mutex);
        releasing = true;
    }
    released.notify_all();
}

std::string unreachableURL() {
    int port = 0;
    ::close(loopbackListener(port));
    return "http://127.0.0.1:" + std::to_string(port);
}

} // namespace testsupport
