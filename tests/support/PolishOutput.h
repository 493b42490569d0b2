#pragma once

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

/// The lines printed by the --polish mode, with each result line's elapsed time ("12.3") replaced
/// by "T", the only part that varies. A time not written as digits, a period and one digit is left
/// as it is, so that the comparison fails.
inline std::vector<std::string> polishLines(const std::string& output) {
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("  ", 0) == 0) {
            auto start = line.find(' ', 2);
            auto at = start == std::string::npos ? line.size() : start + 1;
            auto digits = at;
            while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) {
                ++digits;
            }
            if (digits > at && digits + 2 < line.size() && line[digits] == '.' &&
                std::isdigit(static_cast<unsigned char>(line[digits + 1])) && line.compare(digits + 2, 3, " с") == 0) {
                line.replace(at, digits + 2 - at, "T");
            }
        }
        lines.push_back(line);
    }
    return lines;
}

} // namespace testsupport
