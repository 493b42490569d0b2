#pragma once

#include "core/Defaults.h"

#include <array>
#include <optional>
#include <string>

namespace text {

/// The rewriting style. Raw values are stored under "style".
enum class Style { asSpoken, natural, business, friendly };

namespace styles {
inline constexpr std::array<Style, 4> allCases = {Style::asSpoken, Style::natural, Style::business, Style::friendly};
const char* rawValue(Style style);
/// The case with exactly this raw value (case-sensitive), or nothing.
std::optional<Style> fromRawValue(const std::string& raw);
/// The menu label ("Как сказал", ...).
const char* title(Style style);
/// The menu tool tip.
const char* hint(Style style);
/// The style stored under "style" in `settings`; asSpoken when absent or unrecognised.
Style saved(const core::Defaults& settings);
void setSaved(core::Defaults& settings, Style style);
} // namespace styles

/// How a dictation is finished: the style, and whether it becomes an English post for X.
struct Preset {
    Style style = Style::asSpoken;
    bool english = false;

    bool operator==(const Preset&) const = default;

    /// True when the AI must rewrite: a style other than asSpoken, or English.
    bool rewrites() const;
    /// The pill's label: none, "EN", the style's title, or "EN · " + title.
    std::optional<std::string> tag() const;

    /// The saved style and the flag under "english" (false when absent).
    static Preset saved(const core::Defaults& settings);
    static void saveEnglish(core::Defaults& settings, bool english);
};

} // namespace text
