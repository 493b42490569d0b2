// The settings file: reading whatever is on disk, then writing one setting.
// Input: the file's bytes, a NUL byte, the value to write under "style".
//
// Invariants: reading is deterministic and never fails; the write succeeds and the value reads
// back; every other key of a file that read as settings is kept; a file that did not read as
// settings is kept aside, byte for byte, as "<file>.bad".

#include "FuzzSupport.h"

#include "core/Defaults.h"

#include <nlohmann/json.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parts = fuzz::split(fuzz::text(data, size), '\0', 2);
    const std::string original(parts[0]);
    const std::string value(parts.size() > 1 ? parts[1] : "natural");
    const auto file = fuzz::scratch() / "settings.json";
    const auto aside = fuzz::scratch() / "settings.json.bad";
    std::filesystem::remove(aside);
    fuzz::writeFile(file, original);

    core::Defaults defaults(file);
    auto style = defaults.string("style");
    auto english = defaults.boolean("english");
    fuzz::check(style == defaults.string("style") && english == defaults.boolean("english"),
                "reading is deterministic");

    fuzz::check(defaults.setString("style", value), "a setting can always be written");
    if (fuzz::isUtf8(value)) {
        fuzz::check(defaults.string("style") == value, "a written setting reads back");
    }
    // The settings as the store read them: an object, not deeper than the store accepts, which
    // this parse can then hold without risk.
    bool kept = !std::filesystem::exists(aside);
    auto after = nlohmann::json::parse(fuzz::readFile(file), nullptr, false);
    fuzz::check(after.is_object() && after.contains("style"), "the file holds the setting");
    if (kept) {
        auto before = nlohmann::json::parse(original, nullptr, false);
        fuzz::check(before.is_object(), "a file kept in place was settings");
        for (const auto& [key, old] : before.items()) {
            fuzz::check(key == "style" || (after.contains(key) && after.at(key) == old), "every other setting is kept");
        }
    } else {
        fuzz::check(fuzz::readFile(aside) == original, "damaged settings are kept aside unchanged");
    }
    return 0;
}
