#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace text {

/// The user's dictionary ("Словарь"): terms the recogniser is biased towards, and replacements of
/// what is heard by what is to be written. An immutable value; the static members handle the file.
struct Vocabulary {
    struct Replacement {
        std::string heard;   ///< never empty
        std::string written; ///< may be empty: the heard text is deleted
        bool operator==(const Replacement&) const = default;
    };

    /// Raised by save(); what() is the Russian description shown after "Словарь не сохранился: ".
    class SaveError : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    std::vector<std::string> terms;        ///< file order, distinct (exact comparison)
    std::vector<Replacement> replacements; ///< file order, duplicates allowed

    /// The boost the engine gives every term.
    static constexpr float termScore = 2.0f;

    Vocabulary() = default;
    /// Parses a dictionary text.
    explicit Vocabulary(const std::string& text);
    bool operator==(const Vocabulary&) const = default;

    /// "<application support>/Словарь.txt", resolved at each call.
    static std::filesystem::path file();
    /// The nine commented lines offered for a dictionary that does not exist yet.
    static const std::string& templateText();
    /// The dictionary file parsed; empty when it cannot be read or is not UTF-8.
    static Vocabulary load();
    /// The file's raw text, or the template when it cannot be read.
    static std::string text();
    /// Writes the whole text to the file atomically, creating the folder. Throws SaveError;
    /// the old file is then unchanged.
    static void save(const std::string& text);

    /// How far the replacements may grow a text: to `growthFactor` times its length (in UTF-16
    /// code units) plus `growthAllowance`.
    static constexpr int growthFactor = 8;
    static constexpr int growthAllowance = 1024;

    /// The text with every replacement applied in file order (each sees the output of the last).
    /// A rule repeated with the same written text applies once. Once a rule would grow the text
    /// past the bound above, it and the rules after it are left out: rules that feed on each other
    /// cannot fill memory.
    std::string apply(const std::string& text) const;

    /// Writes "terms.txt" beside the dictionary (one term a line) and returns its location;
    /// nothing when there are no terms or the write fails.
    std::optional<std::filesystem::path> writeTermsFile() const;
};

} // namespace text
