#include "text/ChatReply.h"

#include "text/Polisher.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <utility>

namespace text::ChatReply {

namespace {

/// The first choice's message content, or nothing when the reply does not have that shape.
std::optional<std::string> content(long status, std::string_view body) {
    if (status != 200 || body.empty()) {
        return std::nullopt;
    }
    auto json = nlohmann::json::parse(body, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        return std::nullopt;
    }
    auto choices = json.find("choices");
    if (choices == json.end() || !choices->is_array() || choices->empty()) {
        return std::nullopt;
    }
    for (const auto& choice : *choices) {
        if (!choice.is_object()) {
            return std::nullopt;
        }
    }
    const auto& first = choices->front();
    auto message = first.find("message");
    if (message == first.end() || !message->is_object()) {
        return std::nullopt;
    }
    auto text = message->find("content");
    if (text == message->end() || !text->is_string()) {
        return std::nullopt;
    }
    return text->get<std::string>();
}

bool isLoopbackHost(std::string host) {
    std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
    if (host == "localhost") {
        return true;
    }
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    // The parser gives IPv6 hosts in brackets, with any zone after a "%".
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, std::min(host.find('%'), host.size() - 1) - 1);
        in6_addr v6{};
        return ::inet_pton(AF_INET6, host.c_str(), &v6) == 1 && std::memcmp(&v6, &in6addr_loopback, sizeof v6) == 0;
    }
    return false;
}

struct UrlPartFree {
    void operator()(char* part) const { curl_free(part); }
};

} // namespace

std::string withoutControls(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r') {
            result += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else if (c == '\n' || c == '\t') {
            result += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            continue;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080 to U+009F: the C1 controls, which terminals obey as escape sequences.
            if (text[i + 1] == '\x85') {
                result += '\n';
            }
            ++i;
        } else {
            result += static_cast<char>(c);
        }
    }
    return result;
}

std::optional<std::string> answer(long status, std::string_view body) {
    auto text = content(status, body);
    if (!text) {
        return std::nullopt;
    }
    auto result = Polisher::unquoted(withoutControls(*text));
    if (result.empty()) {
        return std::nullopt;
    }
    return result;
}

namespace {

/// The lower-case scheme and the host of `url` as the transfer reads them; nothing when either is
/// missing. No scheme is guessed: an address without one has none.
std::optional<std::pair<std::string, std::string>> schemeAndHost(std::string_view url) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, std::string(url).c_str(), 0) != CURLUE_OK)
        return std::nullopt;
    char* schemePart = nullptr;
    char* hostPart = nullptr;
    bool found = curl_url_get(parsed.get(), CURLUPART_SCHEME, &schemePart, 0) == CURLUE_OK &&
                 curl_url_get(parsed.get(), CURLUPART_HOST, &hostPart, 0) == CURLUE_OK;
    std::unique_ptr<char, UrlPartFree> scheme(schemePart);
    std::unique_ptr<char, UrlPartFree> host(hostPart);
    if (!found || !scheme || !host || host.get()[0] == '\0')
        return std::nullopt;
    std::string kind = scheme.get();
    std::transform(kind.begin(), kind.end(), kind.begin(), [](unsigned char c) { return std::tolower(c); });
    return std::pair(kind, std::string(host.get()));
}

} // namespace

bool mayCarryKey(std::string_view baseURL) {
    auto parts = schemeAndHost(baseURL);
    return parts && (parts->first == "https" || (parts->first == "http" && isLoopbackHost(parts->second)));
}

bool isLoopback(std::string_view baseURL) {
    auto parts = schemeAndHost(baseURL);
    return parts && (parts->first == "https" || parts->first == "http") && isLoopbackHost(parts->second);
}

} // namespace text::ChatReply
