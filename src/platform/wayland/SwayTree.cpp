#include "platform/wayland/SwayTree.h"

#include <nlohmann/json.hpp>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace platform::wayland {

namespace {

constexpr char magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::uint32_t getTree = 4;

using Clock = std::chrono::steady_clock;

// Waits for the socket within the deadline; false once it has passed.
bool ready(int fd, short events, Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd wanted = {fd, events, 0};
    return left > 0 && poll(&wanted, 1, static_cast<int>(left)) == 1;
}

bool sendAll(int fd, const std::string& bytes, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (!ready(fd, POLLOUT, deadline)) {
            return false;
        }
        ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

bool receiveAll(int fd, char* into, std::size_t size, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < size) {
        if (!ready(fd, POLLIN, deadline)) {
            return false;
        }
        ssize_t got = recv(fd, into + done, size - done, 0);
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

const nlohmann::json* focusedNode(const nlohmann::json& node) {
    if (node.value("focused", false)) {
        return &node;
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        auto list = node.find(children);
        if (list == node.end() || !list->is_array()) {
            continue;
        }
        for (const auto& child : *list) {
            if (const auto* found = focusedNode(child)) {
                return found;
            }
        }
    }
    return nullptr;
}

std::string text(const nlohmann::json& node, const char* key) {
    auto value = node.find(key);
    return value != node.end() && value->is_string() ? value->get<std::string>() : std::string();
}

} // namespace

std::optional<WindowIdentity> focusedInSwayTree(const std::string& json) {
    auto tree = nlohmann::json::parse(json, nullptr, false);
    if (tree.is_discarded() || !tree.is_object()) {
        return std::nullopt;
    }
    const auto* node = focusedNode(tree);
    // Only windows have an app id or X11 properties; a focused workspace or output is no window.
    if (node == nullptr || (!node->contains("app_id") && !node->contains("window_properties"))) {
        return std::nullopt;
    }
    WindowIdentity identity;
    identity.instance = identity.className = text(*node, "app_id");
    if (auto x11 = node->find("window_properties"); x11 != node->end() && x11->is_object()) {
        identity.instance = text(*x11, "instance");
        identity.className = text(*x11, "class");
    }
    if (auto pid = node->find("pid"); pid != node->end() && pid->is_number_integer()) {
        identity.processId = pid->get<int>();
    }
    return identity;
}

std::optional<WindowIdentity> swayFocusedWindow(double seconds) {
    const char* path = std::getenv("SWAYSOCK");
    sockaddr_un address = {};
    if (path == nullptr || std::strlen(path) >= sizeof address.sun_path) {
        return std::nullopt;
    }
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path);
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<WindowIdentity> found;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 || errno == EINPROGRESS) {
        // The message: the magic, the payload's length and the type, both in the machine's byte order.
        std::string request(magic, sizeof magic);
        const std::uint32_t header[2] = {0, getTree};
        request.append(reinterpret_cast<const char*>(header), sizeof header);
        char replyHeader[sizeof magic + 8];
        std::uint32_t reply[2];
        if (sendAll(fd, request, deadline) && receiveAll(fd, replyHeader, sizeof replyHeader, deadline) &&
            std::memcmp(replyHeader, magic, sizeof magic) == 0) {
            std::memcpy(reply, replyHeader + sizeof magic, sizeof reply);
            // A tree of a few hundred windows is a few hundred kilobytes.
            if (reply[1] == getTree && reply[0] < (64u << 20)) {
                std::string payload(reply[0], '\0');
                if (receiveAll(fd, payload.data(), payload.size(), deadline)) {
                    found = focusedInSwayTree(payload);
                }
            }
        }
    }
    close(fd);
    return found;
}

} // namespace platform::wayland
