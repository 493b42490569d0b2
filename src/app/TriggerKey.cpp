#include "app/TriggerKey.h"

#include <string>

namespace app {
namespace {

constexpr std::string_view settingsKey = "triggerKey";

struct Description {
    std::string_view raw;
    unsigned keyCode;
    unsigned evdevCode;
    std::string_view title;
    std::string_view shortName;
};

// Indexed by TriggerKey::Case. Linux keyboards have no Option or Command keys: the right Alt and
// right Super keys sit in their places.
constexpr std::array<Description, 2> descriptions{{
    {"rightOption", 108, 100, "Правый Alt", "правый Alt"},
    {"rightCommand", 134, 126, "Правый Super", "правый Super"},
}};

const Description& describe(TriggerKey key) {
    return descriptions[static_cast<std::size_t>(TriggerKey::Case(key))];
}

} // namespace

const std::array<TriggerKey, 2> TriggerKey::allCases{TriggerKey::rightOption, TriggerKey::rightCommand};

std::optional<TriggerKey> TriggerKey::fromRawValue(std::string_view raw) {
    for (TriggerKey key : allCases) {
        if (describe(key).raw == raw) {
            return key;
        }
    }
    return std::nullopt;
}

std::string_view TriggerKey::rawValue() const {
    return describe(*this).raw;
}
unsigned TriggerKey::keyCode() const {
    return describe(*this).keyCode;
}
unsigned TriggerKey::evdevCode() const {
    return describe(*this).evdevCode;
}
std::string_view TriggerKey::title() const {
    return describe(*this).title;
}
std::string_view TriggerKey::shortName() const {
    return describe(*this).shortName;
}

TriggerKey TriggerKey::saved(const core::Defaults& settings) {
    auto stored = settings.string(std::string(settingsKey));
    if (stored) {
        if (auto key = fromRawValue(*stored)) {
            return *key;
        }
    }
    return rightOption;
}

bool TriggerKey::setSaved(core::Defaults& settings, TriggerKey key) {
    return settings.setString(std::string(settingsKey), std::string(key.rawValue()));
}

} // namespace app
