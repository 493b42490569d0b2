#include "app/cli/PolishCheck.h"

#include "core/Unicode.h"
#include "text/Vocabulary.h"

#include <charconv>
#include <chrono>
#include <iostream>

namespace app::cli {

using text::Preset;
using text::Style;

namespace {

/// Seconds with one decimal and a period, whatever the locale.
std::string seconds(double value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    return std::string(buffer, result.ptr);
}

} // namespace

std::optional<PolishCheck::Configuration> PolishCheck::configuration(const std::string& argument) {
    if (argument == "ai") {
        return Configuration{argument, Preset{Style::asSpoken, false}, true};
    }
    bool english = argument.starts_with("en-");
    if (auto style = text::styles::fromRawValue(english ? argument.substr(3) : argument)) {
        return Configuration{argument, Preset{*style, english}, false};
    }
    return std::nullopt;
}

int PolishCheck::run(core::RunLoop& loop, text::Keychain& keychain, text::Polisher& polisher,
                     const text::AiService& service, const std::vector<std::string>& arguments, std::istream& in,
                     std::ostream& out) {
    std::vector<Configuration> configurations;
    for (const auto& argument : arguments) {
        if (auto configuration = PolishCheck::configuration(argument)) {
            configurations.push_back(std::move(*configuration));
        }
    }
    out << "Сервис ИИ: " << service.description() << '\n';
    if (auto refused = service.refusal()) {
        out << *refused << '\n' << std::flush;
        return 1;
    }
    if (!service.available(keychain.aiKey().has_value())) {
        out << "Нет ключа ИИ\n" << std::flush;
        return 0;
    }
    const text::Vocabulary none;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back(); // a CR LF ending is one terminator
        }
        std::string sentence = core::unicode::trimmedSpacesAndTabs(line);
        if (sentence.empty()) {
            continue;
        }
        out << "« " << sentence << '\n' << std::flush;
        for (const auto& configuration : configurations) {
            auto started = std::chrono::steady_clock::now();
            std::optional<std::pair<std::string, bool>> result;
            polisher.polish(sentence, configuration.preset, configuration.useAI, none,
                            [&result](std::string text, bool fallback) { result.emplace(std::move(text), fallback); });
            loop.runUntil([&result] { return result.has_value(); }, 0.05);
            std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
            out << "  " << configuration.name << ' ' << seconds(elapsed.count()) << " с"
                << (result->second ? " [локально]" : "") << ": " << result->first << '\n'
                << std::flush;
        }
    }
    return 0;
}

} // namespace app::cli
