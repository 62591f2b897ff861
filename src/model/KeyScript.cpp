#include "model/KeyScript.h"

#include <limits>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

bool parseLine(const std::string& line, KeyChange& change, std::string& why)
{
    size_t i = 0;
    while (i < line.size() && isBlank(line[i])) {
        ++i;
    }
    if (line[i] < '0' || line[i] > '9') {
        why = "expected a step number";
        return false;
    }
    uint64_t step = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
        const auto digit = static_cast<uint64_t>(line[i] - '0');
        if (step > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
            why = "step number too large";
            return false;
        }
        step = step * 10 + digit;
        ++i;
    }
    if (i < line.size() && !isBlank(line[i])) {
        why = "step number followed by '" + std::string(1, line[i]) + "'";
        return false;
    }
    while (i < line.size() && isBlank(line[i])) {
        ++i;
    }
    uint8_t keys = 0;
    while (i < line.size() && !isBlank(line[i])) {
        switch (line[i]) {
        case 'L': keys |= KeyLeft; break;
        case 'R': keys |= KeyRight; break;
        case 'U': keys |= KeyUp; break;
        case 'D': keys |= KeyDown; break;
        case 'S': keys |= KeySpace; break;
        default:
            why = "unknown key '" + std::string(1, line[i]) + "' (use L, R, U, D, S)";
            return false;
        }
        ++i;
    }
    while (i < line.size() && isBlank(line[i])) {
        ++i;
    }
    if (i < line.size()) {
        why = "unexpected text after the keys";
        return false;
    }
    change.step = step;
    change.keys = keys;
    return true;
}

}  // namespace

bool parseKeyScript(const std::string& text, std::vector<KeyChange>& changes, std::string& error)
{
    changes.clear();
    size_t start = 0;
    uint64_t lineNumber = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;

        size_t first = 0;
        while (first < line.size() && isBlank(line[first])) {
            ++first;
        }
        if (first == line.size() || line[first] == '#') {
            continue;
        }
        KeyChange change;
        std::string why;
        if (!parseLine(line, change, why)) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        }
        if (!changes.empty() && change.step <= changes.back().step) {
            error = "line " + std::to_string(lineNumber) + ": step " + std::to_string(change.step) +
                    " does not follow step " + std::to_string(changes.back().step);
            return false;
        }
        changes.push_back(change);
    }
    return true;
}

std::string keyScriptLine(const KeyChange& change)
{
    std::string line = std::to_string(change.step);
    if (change.keys != 0) {
        line += ' ';
    }
    const char letters[] = {'L', 'R', 'U', 'D', 'S'};
    const uint8_t bits[] = {KeyLeft, KeyRight, KeyUp, KeyDown, KeySpace};
    for (size_t i = 0; i < sizeof bits; ++i) {
        if ((change.keys & bits[i]) != 0) {
            line += letters[i];
        }
    }
    return line;
}
