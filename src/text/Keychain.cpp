#include "text/Keychain.h"

#include "core/Paths.h"
#include "core/Unicode.h"

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace text {

Keychain::Keychain(std::shared_ptr<platform::SecretStore> store) : store(std::move(store)) {}

std::optional<std::string> Keychain::aiKey() {
    unsigned long long asked = 0;
    {
        std::lock_guard lock(mutex);
        if (read) {
            return key;
        }
        asked = generation;
    }
    // The lookup may take seconds; it runs without the lock so that a write is never held up by it.
    std::optional<std::string> found = store ? store->lookup(service, account) : std::nullopt;
    if (found && found->empty()) {
        found.reset();
    }
    std::lock_guard lock(mutex);
    if (generation == asked && !read) {
        read = true;
        key = found;
    }
    return read ? key : found;
}

void Keychain::setAiKey(const std::optional<std::string>& newKey) {
    {
        std::lock_guard lock(mutex);
        ++generation;
        read = true;
        key.reset();
    }
    if (store) {
        store->clear(service, account);
    }
    if (!newKey) {
        return;
    }
    std::string value = core::unicode::trimmed(*newKey);
    if (value.empty() || !store || !store->store(service, account, label, value)) {
        return;
    }
    std::lock_guard lock(mutex);
    ++generation;
    read = true;
    key = std::move(value);
}

std::filesystem::path Keychain::ruvexFile() {
    return core::paths::home() / "Projects" / "halvik-local" / ".env";
}

std::optional<std::string> Keychain::ruvexKey() {
    std::ifstream file(ruvexFile(), std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    if (file.bad()) {
        return std::nullopt;
    }
    return ruvexKey(contents.str());
}

std::optional<std::string> Keychain::ruvexKey(const std::string& contents) {
    if (!core::unicode::isValidUtf8(contents)) {
        return std::nullopt;
    }
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start <= contents.size()) {
        auto end = contents.find('\n', start);
        if (end == std::string::npos) {
            end = contents.size();
        }
        std::string_view line(contents.data() + start, end - start);
        start = end + 1;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        // Leading "=" characters do not start a name; the first "=" after the name ends it.
        auto nameStart = line.find_first_not_of('=');
        if (nameStart == std::string_view::npos) {
            continue;
        }
        auto equals = line.find('=', nameStart);
        if (equals == std::string_view::npos || equals + 1 == line.size()) {
            continue;
        }
        std::string name = core::unicode::trimmedSpacesAndTabs(line.substr(nameStart, equals - nameStart));
        std::string value = core::unicode::trimmedSpacesAndTabs(line.substr(equals + 1));
        auto first = value.find_first_not_of("\"'");
        value =
            first == std::string::npos ? std::string() : value.substr(first, value.find_last_not_of("\"'") - first + 1);
        values[name] = value;
    }
    if (auto url = values.find("LLM_BASE_URL");
        url != values.end() && url->second.find("deepseek") == std::string::npos) {
        return std::nullopt;
    }
    auto key = values.find("LLM_API_KEY");
    if (key == values.end() || key->second.empty()) {
        return std::nullopt;
    }
    return key->second;
}

} // namespace text
