#include "model/ParTimes.h"

#include "model/FileAccess.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace {

bool parseDigest(const std::string& text, uint64_t& digest)
{
    if (text.size() != 16) {
        return false;
    }
    uint64_t value = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return false;
        }
        value = value << 4 | static_cast<uint64_t>(d);
    }
    digest = value;
    return true;
}

bool parseSteps(const std::string& text, int32_t& steps)
{
    if (text.empty() || text.size() > 7) {
        return false;
    }
    int32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > kMaxParSteps) {
        return false;
    }
    steps = value;
    return true;
}

// One entry line: exactly three fields separated by blanks or tabs.
bool parseLine(const std::string& line, ParTime& entry)
{
    std::vector<std::string> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) {
            ++i;
        }
        size_t end = i;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') {
            ++end;
        }
        if (end > i) {
            if (fields.size() == 3) {
                return false;
            }
            fields.push_back(line.substr(i, end - i));
        }
        i = end;
    }
    if (fields.size() != 3 || fields[0].find('/') != std::string::npos || fields[0].find('\\') != std::string::npos ||
        fields[0] == "." || fields[0] == "..") {
        return false;
    }
    entry.file = fields[0];
    return parseDigest(fields[1], entry.digest) && parseSteps(fields[2], entry.steps);
}

} // namespace

ParTimes ParTimes::parse(const std::string& text)
{
    ParTimes index;
    const size_t size = std::min(text.size(), kMaxParFileBytes);
    size_t begin = 0;
    while (begin < size) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos || end > size) {
            // A last line cut off by the size limit is not trusted.
            if (size < text.size()) {
                break;
            }
            end = size;
        }
        const size_t length = end - begin;
        if (length <= kMaxParLineBytes && length > 0 && text[begin] != '#') {
            ParTime entry;
            if (parseLine(text.substr(begin, length), entry)) {
                index.byFile.emplace(entry.file, entry);
            }
        }
        begin = end + 1;
    }
    return index;
}

ParTimes ParTimes::readFolder(const std::string& folder)
{
    const std::string path = (folder.empty() ? std::string(".") : folder) + "/" + kParFileName;
    // A regular file only: a FIFO or a device in its place must not hold
    // the game at T or at a finish.
    std::FILE* in = openRegularStream(path);
    if (in == nullptr) {
        return ParTimes();
    }
    std::string text(kMaxParFileBytes, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), in));
    std::fclose(in);
    return parse(text);
}

int32_t ParTimes::parFor(const std::string& file, uint64_t digest) const
{
    const auto found = byFile.find(file);
    if (found == byFile.end() || found->second.digest != digest) {
        return -1;
    }
    return found->second.steps;
}

std::vector<ParTime> ParTimes::entries() const
{
    std::vector<ParTime> all;
    for (const auto& [file, entry] : byFile) {
        all.push_back(entry);
    }
    std::sort(all.begin(), all.end(), [](const ParTime& a, const ParTime& b) { return a.file < b.file; });
    return all;
}

std::string formatParTimes(const std::vector<ParTime>& entries)
{
    std::string text = "# velto par times 1\n# file  digest  par (hundredths of a second)\n";
    for (const ParTime& entry : entries) {
        char digest[17];
        std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(entry.digest));
        text += entry.file + " " + digest + " " + std::to_string(entry.steps) + "\n";
    }
    return text;
}

bool writeParTimes(const std::string& path, const std::vector<ParTime>& entries)
{
    const std::string fresh = path + ".new";
    const std::string text = formatParTimes(entries);
    std::FILE* out = std::fopen(fresh.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    ok = std::fflush(out) == 0 && ok;
    ok = std::fclose(out) == 0 && ok;
    if (!ok || std::rename(fresh.c_str(), path.c_str()) != 0) {
        ::unlink(fresh.c_str());
        return false;
    }
    return true;
}

Medal medalFor(int32_t steps, int32_t parSteps)
{
    if (steps < 0 || parSteps <= 0) {
        return Medal::None;
    }
    if (steps <= parSteps) {
        return Medal::Gold;
    }
    // Within 25 % over par, in whole numbers: steps <= 1.25 par.
    if (int64_t{steps} * 4 <= int64_t{parSteps} * 5) {
        return Medal::Silver;
    }
    return Medal::Bronze;
}

const char* medalName(Medal medal)
{
    switch (medal) {
    case Medal::Gold:
        return "gold";
    case Medal::Silver:
        return "silver";
    case Medal::Bronze:
        return "bronze";
    case Medal::None:
        break;
    }
    return "";
}

int32_t stepsOfRunTime(double days)
{
    if (!std::isfinite(days) || days < 0.0) {
        return -1;
    }
    const double steps = std::round(days * 86400.0 * 100.0);
    if (steps > 2e9) {
        return -1;
    }
    return static_cast<int32_t>(steps);
}
