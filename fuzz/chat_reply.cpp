// The AI service's reply and the address the key goes to.
// Input: one byte choosing the status (0: 200, else that byte plus 200), then the reply's body,
// which is also tried as the service's base address.
//
// Invariants: an answer exists only for status 200; it is not empty, has no white space at
// either end, holds no C0 or C1 control character but tab and line feed, is valid UTF-8, and
// comes out the same from the same reply; on valid UTF-8, removing control characters leaves none
// and twice changes nothing.
// An address the key may go to is https, or http to a loopback host, and the request address
// made from it ("/chat/completions" appended) reaches the same host.

#include "FuzzSupport.h"

#include "text/ChatReply.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>
#include <memory>

namespace {

bool hasControls(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
            return true;
        }
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            return true;
        }
    }
    return false;
}

struct Parsed {
    std::string scheme;
    std::string host;
};

std::optional<Parsed> parse(const std::string& address) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
    if (curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    char* scheme = nullptr;
    char* host = nullptr;
    std::optional<Parsed> result;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK) {
        result = Parsed{scheme, host};
    }
    curl_free(scheme);
    curl_free(host);
    return result;
}

bool loopback(std::string host) {
    std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return std::tolower(c); });
    in_addr v4{};
    in6_addr v6{};
    std::string bare = host.size() > 2 && host.front() == '[' ? host.substr(1, host.find_first_of("%]") - 1) : host;
    return host == "localhost" || (inet_pton(AF_INET, host.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127) ||
           (inet_pton(AF_INET6, bare.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const long status = data[0] == 0 ? 200 : 200 + data[0];
    const std::string_view body = fuzz::text(data + 1, size - 1);

    auto answer = text::ChatReply::answer(status, body);
    fuzz::check(answer == text::ChatReply::answer(status, body), "reading a reply is deterministic");
    if (answer) {
        fuzz::check(status == 200, "only a reply of status 200 has an answer");
        fuzz::check(!answer->empty(), "an answer is not empty");
        fuzz::check(!hasControls(*answer), "an answer holds no control character but tab and line feed");
        fuzz::check(fuzz::isUtf8(*answer), "an answer is valid UTF-8");
        fuzz::check(std::string(" \t\n").find(answer->front()) == std::string::npos &&
                        std::string(" \t\n").find(answer->back()) == std::string::npos,
                    "an answer has no white space at either end");
    }
    // Answers are valid UTF-8 (the JSON parser refuses anything else); there a stray byte is no control.
    if (fuzz::isUtf8(body)) {
        auto stripped = text::ChatReply::withoutControls(body);
        fuzz::check(fuzz::isUtf8(stripped) && !hasControls(stripped),
                    "removing controls keeps UTF-8 valid, leaves none");
        fuzz::check(text::ChatReply::withoutControls(stripped) == stripped, "removing controls twice changes nothing");
    }

    const std::string base(body);
    if (text::ChatReply::mayCarryKey(base)) {
        auto parsed = parse(base);
        fuzz::check(parsed.has_value(), "an address the key may go to is an address");
        fuzz::check(parsed->scheme == "https" || (parsed->scheme == "http" && loopback(parsed->host)),
                    "the key goes over https or stays on this machine");
        std::string trimmed = base;
        while (!trimmed.empty() && trimmed.back() == '/') {
            trimmed.pop_back();
        }
        auto request = parse(trimmed + "/chat/completions");
        fuzz::check(request && request->host == parsed->host && request->scheme == parsed->scheme,
                    "the request address reaches the host that was checked");
    }
    return 0;
}
