#include "text/AiService.h"

#include "text/ChatReply.h"

#include <cctype>
#include <cstdlib>

namespace text {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool startsWithHttp(const std::string& url) {
    static const std::string http = "http://";
    if (url.size() < http.size())
        return false;
    for (std::size_t i = 0; i < http.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != http[i])
            return false;
    }
    return true;
}

} // namespace

AiService AiService::stored(const core::Defaults& settings) {
    AiService service;
    if (auto url = settings.string("aiURL"); url && !url->empty())
        service.baseURL = *url;
    if (auto model = settings.string("aiModel"); model && !model->empty())
        service.model = *model;
    return service;
}

AiService AiService::saved(const core::Defaults& settings) {
    AiService service = stored(settings);
    if (auto url = environment("RUVEX_VOICE_AI_URL"); !url.empty())
        service.baseURL = url;
    if (auto model = environment("RUVEX_VOICE_AI_MODEL"); !model.empty())
        service.model = model;
    return service;
}

bool AiService::save(core::Defaults& settings, const AiService& service) {
    if (service == AiService{})
        return settings.remove("aiURL") && settings.remove("aiModel");
    return settings.setString("aiURL", service.baseURL) && settings.setString("aiModel", service.model);
}

std::string AiService::endpoint() const {
    std::string base = baseURL;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + "/chat/completions";
}

bool AiService::onThisMachine() const {
    return ChatReply::isLoopback(baseURL);
}

std::optional<std::string> AiService::refusal() const {
    if (ChatReply::mayCarryKey(baseURL))
        return std::nullopt;
    if (startsWithHttp(baseURL))
        return "Адрес сервиса ИИ " + baseURL +
               " не подходит: без https текст и ключ шли бы по сети открытыми. По http можно обращаться только к "
               "серверу на этом компьютере (127.0.0.1, ::1, localhost).";
    return "Адрес сервиса ИИ «" + baseURL + "» не подходит: нужен адрес вида https://сервер или http://127.0.0.1:порт.";
}

bool AiService::available(bool keyStored) const {
    return !refusal() && (keyStored || onThisMachine());
}

std::string AiService::description() const {
    return baseURL + ", модель " + model;
}

} // namespace text
