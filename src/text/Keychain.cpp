#include "text/Keychain.h"

#include "core/Paths.h"
#include "text/Unicode.h"

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace text {

namespace {

/// The cached key: unread until the first read; then absent (nothing) or present.
struct Cache {
    std::mutex mutex;
    std::shared_ptr<platform::SecretStore> store;
    bool read = false;
    std::optional<std::string> key;
    // Counts writes, so that a lookup that raced with a write does not overwrite its result.
    unsigned long long generation = 0;
};

Cache& cache() {
    static Cache* instance = new Cache(); // never destroyed: reads may come from threads that outlive main
    return *instance;
}

} // namespace

std::optional<std::string> Keychain::aiKey() {
    auto& c = cache();
    std::shared_ptr<platform::SecretStore> store;
    unsigned long long generation = 0;
    {
        std::lock_guard lock(c.mutex);
        if (c.read) {
            return c.key;
        }
        store = c.store;
        generation = c.generation;
    }
    // The lookup may take seconds; it runs without the lock so that a write is never held up by it.
    std::optional<std::string> found = store ? store->lookup(service, account) : std::nullopt;
    if (found && found->empty()) {
        found.reset();
    }
    std::lock_guard lock(c.mutex);
    if (c.generation == generation && !c.read) {
        c.read = true;
        c.key = found;
    }
    return c.read ? c.key : found;
}

void Keychain::setAiKey(const std::optional<std::string>& key) {
    auto& c = cache();
    std::shared_ptr<platform::SecretStore> store;
    {
        std::lock_guard lock(c.mutex);
        store = c.store;
        ++c.generation;
        c.read = true;
        c.key.reset();
    }
    if (store) {
        store->clear(service, account);
    }
    if (!key) {
        return;
    }
    std::string value = unicode::trimmed(*key);
    if (value.empty() || !store || !store->store(service, account, label, value)) {
        return;
    }
    std::lock_guard lock(c.mutex);
    ++c.generation;
    c.read = true;
    c.key = std::move(value);
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
    if (!unicode::isValidUtf8(contents)) {
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
        std::string name = unicode::trimmedSpacesAndTabs(line.substr(nameStart, equals - nameStart));
        std::string value = unicode::trimmedSpacesAndTabs(line.substr(equals + 1));
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

void Keychain::useStore(std::shared_ptr<platform::SecretStore> store) {
    auto& c = cache();
    std::lock_guard lock(c.mutex);
    c.store = std::move(store);
    ++c.generation;
    c.read = false;
    c.key.reset();
}

void Keychain::resetCache() {
    auto& c = cache();
    std::lock_guard lock(c.mutex);
    ++c.generation;
    c.read = false;
    c.key.reset();
}

} // namespace text
