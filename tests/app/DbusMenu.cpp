#include "DbusMenu.h"

#include <optional>
#include <regex>

namespace {

/// The value of a string property in an item's properties, unescaped; gdbus quotes a string with '
/// unless it holds one.
std::optional<std::string> stringProperty(const std::string& properties, const std::string& key) {
    const std::regex value("'" + key + R"re(': <(?:'((?:[^'\\]|\\.)*)'|"((?:[^"\\]|\\.)*)")>)re");
    std::smatch match;
    if (!std::regex_search(properties, match, value))
        return std::nullopt;
    const std::string quoted = match[1].matched ? match[1].str() : match[2].str();
    std::string text;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 1 < quoted.size()) {
            const char escaped = quoted[++i];
            text += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped == 'r' ? '\r' : escaped;
        } else {
            text += quoted[i];
        }
    }
    return text;
}

bool hasProperty(const std::string& properties, const std::string& key, const std::string& value) {
    return properties.find("'" + key + "': <" + value + ">") != std::string::npos;
}

} // namespace

std::vector<MenuItem> menuItems(const std::string& layout) {
    // Each item reads "(<id>, {<properties>}, [<children>])" or "(<id>, @a{sv} {}, [...])"; children are
    // wrapped in variants. The depth of "[" outside strings gives the nesting.
    std::vector<MenuItem> out;
    int depth = 0;
    char quote = 0;
    const std::regex itemStart(R"(^\((\d+), (?:@a\{sv\} )?\{)");
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const char c = layout[i];
        if (quote) {
            if (c == '\\')
                ++i;
            else if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '[') {
            ++depth;
        } else if (c == ']') {
            --depth;
        } else if (c == '(' && depth > 0) {
            std::smatch match;
            const std::string rest = layout.substr(i, 40);
            if (!std::regex_search(rest, match, itemStart))
                continue;
            // The properties end at the first "}" outside a string.
            std::size_t end = i + static_cast<std::size_t>(match.length(0));
            for (char inner = 0; end < layout.size(); ++end) {
                if (inner) {
                    if (layout[end] == '\\')
                        ++end;
                    else if (layout[end] == inner)
                        inner = 0;
                } else if (layout[end] == '\'' || layout[end] == '"') {
                    inner = layout[end];
                } else if (layout[end] == '}') {
                    break;
                }
            }
            const std::string properties = layout.substr(i, end - i + 1);
            if (hasProperty(properties, "visible", "false"))
                continue;
            std::string line(static_cast<std::size_t>(2 * (depth - 1)), ' ');
            if (hasProperty(properties, "type", "'separator'")) {
                out.push_back({match[1].str(), "", line + "-"});
                continue;
            }
            const std::string label = stringProperty(properties, "label").value_or("");
            if (hasProperty(properties, "toggle-type", "'checkmark'"))
                line += hasProperty(properties, "toggle-state", "1") ? "[x] " : "[ ] ";
            line += label;
            if (hasProperty(properties, "enabled", "false"))
                line += " (off)";
            out.push_back({match[1].str(), label, line});
        }
    }
    return out;
}

TrayMenu::TrayMenu(QString item) : item(std::move(item)) {}

desktop::ToolResult TrayMenu::call(const QString& method, const QStringList& arguments) {
    return desktop::runTool("gdbus", QStringList{"call", "--session", "--dest", item, "--object-path", "/MenuBar",
                                                 "--method", "com.canonical.dbusmenu." + method, "--"} +
                                         arguments);
}

std::string TrayMenu::layout() {
    call("AboutToShow", {"0"});
    return call("GetLayout", {"0", "-1", "[]"}).out;
}

std::vector<std::string> TrayMenu::items() {
    std::vector<std::string> lines;
    for (const MenuItem& item : menuItems(layout()))
        lines.push_back(item.line);
    return lines;
}

bool TrayMenu::has(const std::string& label) {
    for (const MenuItem& item : menuItems(layout())) {
        if (item.label == label)
            return true;
    }
    return false;
}

bool TrayMenu::click(const std::string& label) {
    for (const MenuItem& item : menuItems(layout())) {
        if (item.label == label)
            return call("Event", {QString::fromStdString(item.id), "clicked", "<0>", "0"}).exitCode == 0;
    }
    return false;
}
