#include "text/Presets.h"

namespace text {

namespace {

constexpr const char* styleKey = "style";
constexpr const char* englishKey = "english";

struct StyleText {
    Style style;
    const char* rawValue;
    const char* title;
    const char* hint;
};

constexpr StyleText styleTexts[] = {
    {Style::asSpoken, "asSpoken", "Как сказал",
     "Без ИИ: только паразиты в начале фраз. ИИ зовется лишь при оговорке, если включено."},
    {Style::natural, "natural", "Естественный",
     "Убрать паразиты, повторы и оговорки, разбить на абзацы. Слова остаются ваши."},
    {Style::business, "business", "Деловой", "Ясно, коротко, уверенно, без воды и канцелярита."},
    {Style::friendly, "friendly", "Дружеский", "Просто и тепло, как пишут знакомым."},
};

const StyleText& textsOf(Style style) {
    for (const auto& entry : styleTexts) {
        if (entry.style == style) {
            return entry;
        }
    }
    return styleTexts[0];
}

} // namespace

namespace styles {

const char* rawValue(Style style) {
    return textsOf(style).rawValue;
}

std::optional<Style> fromRawValue(const std::string& raw) {
    for (const auto& entry : styleTexts) {
        if (raw == entry.rawValue) {
            return entry.style;
        }
    }
    return std::nullopt;
}

const char* title(Style style) {
    return textsOf(style).title;
}

const char* hint(Style style) {
    return textsOf(style).hint;
}

Style saved(const core::Defaults& settings) {
    auto raw = settings.string(styleKey);
    if (!raw) {
        return Style::asSpoken;
    }
    return fromRawValue(*raw).value_or(Style::asSpoken);
}

void setSaved(core::Defaults& settings, Style style) {
    settings.setString(styleKey, rawValue(style));
}

} // namespace styles

bool Preset::rewrites() const {
    return style != Style::asSpoken || english;
}

std::optional<std::string> Preset::tag() const {
    if (style == Style::asSpoken) {
        return english ? std::optional<std::string>("EN") : std::nullopt;
    }
    std::string title = styles::title(style);
    return english ? "EN \u00B7 " + title : title;
}

Preset Preset::saved(const core::Defaults& settings) {
    return Preset{styles::saved(settings), settings.boolean(englishKey).value_or(false)};
}

void Preset::saveEnglish(core::Defaults& settings, bool english) {
    settings.setBoolean(englishKey, english);
}

} // namespace text
