#pragma once

#include "core/Defaults.h"

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

namespace app {

/// The right-hand modifier that triggers dictation, and the user's saved choice of it.
/// A value type: `TriggerKey key = TriggerKey::rightCommand; key.title();`, comparable and
/// usable in a switch through its case.
class TriggerKey {
public:
    enum Case : unsigned char { rightOption, rightCommand };

    constexpr TriggerKey(Case value) : value(value) {}
    constexpr operator Case() const { return value; }

    /// Every case, in the order choosers list them.
    static const std::array<TriggerKey, 2> allCases;

    /// The case stored under `raw` ("rightOption", "rightCommand"), none for any other string.
    static std::optional<TriggerKey> fromRawValue(std::string_view raw);
    std::string_view rawValue() const;

    /// The X keycode of the key (the evdev code + 8, the same on every layout).
    unsigned keyCode() const;
    /// The Linux input event code (KEY_RIGHTALT, KEY_RIGHTMETA), for monitors reading /dev/input.
    unsigned evdevCode() const;

    /// The long name for choosers ("Правый Alt").
    std::string_view title() const;
    /// The form used inside sentences ("правый Alt"): "Держите " + shortName() + " и говорите".
    std::string_view shortName() const;

    /// The key saved under "triggerKey" in `settings`; rightOption when the setting is absent or
    /// holds an unknown value.
    static TriggerKey saved(const core::Defaults& settings);
    /// Saves `key` under "triggerKey". False when the settings file could not be written.
    static bool setSaved(core::Defaults& settings, TriggerKey key);

private:
    Case value;
};

} // namespace app

template <> struct std::hash<app::TriggerKey> {
    std::size_t operator()(app::TriggerKey key) const noexcept {
        return static_cast<std::size_t>(key.operator app::TriggerKey::Case());
    }
};
