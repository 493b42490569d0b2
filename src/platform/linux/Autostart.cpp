#include "platform/linux/Autostart.h"

#include "core/AtomicFile.h"
#include "core/Paths.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

namespace platform::lnx {

namespace {

using Entry = std::map<std::string, std::string>;

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

/// The keys of the [Desktop Entry] group, or nothing when the file cannot be read or does not start with
/// that group (comments and blank lines aside).
std::optional<Entry> readEntry(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    Entry entry;
    bool inGroup = false;
    bool sawGroup = false;
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            if (sawGroup && inGroup)
                break;
            if (line != "[Desktop Entry]")
                return std::nullopt;
            inGroup = sawGroup = true;
            continue;
        }
        if (!inGroup)
            return std::nullopt;
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            return std::nullopt;
        entry.emplace(trim(line.substr(0, equals)), trim(line.substr(equals + 1)));
    }
    if (!sawGroup)
        return std::nullopt;
    return entry;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        if (!part.empty())
            parts.push_back(part);
    }
    return parts;
}

bool startsHere(const Entry& entry) {
    const auto value = [&](const std::string& key) {
        const auto found = entry.find(key);
        return found == entry.end() ? std::optional<std::string>() : found->second;
    };
    if (value("Hidden") == "true" || value("X-GNOME-Autostart-enabled") == "false")
        return false;
    const char* current = std::getenv("XDG_CURRENT_DESKTOP");
    const std::vector<std::string> desktops = split(current ? current : "", ':');
    const auto lists = [&](const std::string& key) {
        const auto names = split(value(key).value_or(""), ';');
        for (const std::string& desktop : desktops) {
            for (const std::string& name : names) {
                if (name == desktop)
                    return true;
            }
        }
        return false;
    };
    if (value("OnlyShowIn") && !lists("OnlyShowIn"))
        return false;
    return !(value("NotShowIn") && lists("NotShowIn"));
}

/// The system-wide entries of the same name, in the order the desktop looks for them.
std::vector<std::filesystem::path> systemFiles() {
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    std::vector<std::string> folders = split(dirs && *dirs ? dirs : "/etc/xdg", ':');
    std::vector<std::filesystem::path> files;
    for (const std::string& folder : folders)
        files.push_back(std::filesystem::path(folder) / "autostart" / Autostart::id);
    return files;
}

bool validUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const int length = byte < 0x80           ? 1
                           : (byte >> 5) == 0x6  ? 2
                           : (byte >> 4) == 0xE  ? 3
                           : (byte >> 3) == 0x1E ? 4
                                                 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (int k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

void write(const std::filesystem::path& file, const std::string& text) {
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error)
        throw Autostart::Failure("нет доступа к папке автозапуска");
    if (core::writeFileAtomically(file, text))
        throw Autostart::Failure("файл автозапуска не записался");
}

} // namespace

std::filesystem::path Autostart::userFile() {
    return core::paths::configHome() / "autostart" / id;
}

bool Autostart::isEnabled() {
    if (const auto entry = readEntry(userFile()))
        return startsHere(*entry);
    for (const auto& file : systemFiles()) {
        if (std::filesystem::exists(file)) {
            const auto entry = readEntry(file);
            return entry && startsHere(*entry);
        }
    }
    return false;
}

void Autostart::setEnabled(bool enabled) {
    const std::filesystem::path file = userFile();
    if (enabled) {
        const std::filesystem::path program = runningProgram();
        if (program.empty())
            throw Failure("не найден путь к программе");
        if (!validUtf8(program.string()))
            throw Failure("путь к программе не в UTF-8");
        write(file, entryText(program));
        return;
    }
    bool systemWide = false;
    for (const auto& other : systemFiles()) {
        if (std::filesystem::exists(other)) {
            const auto entry = readEntry(other);
            systemWide = entry && startsHere(*entry);
            break;
        }
    }
    if (systemWide) {
        write(file, "[Desktop Entry]\nType=Application\nName=Ruvex Voice\nHidden=true\n");
        return;
    }
    std::error_code error;
    std::filesystem::remove(file, error);
    if (error)
        throw Failure("файл автозапуска не удалился");
}

std::string Autostart::entryText(const std::filesystem::path& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Ruvex Voice\n"
           "Exec=" +
           execArgument(program.string()) +
           "\n"
           "Icon=ruvex-voice\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::string Autostart::execArgument(const std::string& argument) {
    static constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string quoted;
    const bool needsQuotes = argument.find_first_of(reserved) != std::string::npos;
    for (const char c : argument) {
        if (needsQuotes && (c == '"' || c == '`' || c == '$' || c == '\\'))
            quoted += '\\';
        if (c == '%')
            quoted += '%'; // a literal percent sign is written twice: %f, %u... are field codes
        quoted += c;
    }
    if (needsQuotes)
        quoted = '"' + quoted + '"';
    // The line is also a string value, whose own escapes apply on top: a backslash is written twice, and
    // a line break would end the value.
    std::string value;
    for (const char c : quoted) {
        if (c == '\\')
            value += "\\\\";
        else if (c == '\n')
            value += "\\n";
        else if (c == '\t')
            value += "\\t";
        else if (c == '\r')
            value += "\\r";
        else
            value += c;
    }
    return value;
}

std::filesystem::path Autostart::runningProgram() {
    if (const char* image = std::getenv("APPIMAGE"); image && *image)
        return image;
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program;
}

} // namespace platform::lnx
