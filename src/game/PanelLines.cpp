#include "game/PanelLines.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace {

struct PanelLine {
    std::string key;
    std::string text;
};

std::mutex linesLock;
std::vector<PanelLine> lines;
uint64_t generation = 0;

// With linesLock held.
void setLocked(const std::string& key, const std::string& text)
{
    const auto found = std::find_if(lines.begin(), lines.end(), [&](const PanelLine& line) { return line.key == key; });
    if (text.empty()) {
        if (found != lines.end()) {
            lines.erase(found);
        }
    } else if (found != lines.end()) {
        found->text = text;
    } else {
        lines.push_back(PanelLine{key, text});
    }
}

} // namespace

void setPanelLine(const std::string& key, const std::string& text)
{
    std::lock_guard<std::mutex> guard(linesLock);
    setLocked(key, text);
}

void clearPanelLine(const std::string& key)
{
    setPanelLine(key, std::string());
}

void clearPanelLines()
{
    std::lock_guard<std::mutex> guard(linesLock);
    lines.clear();
    ++generation;
}

uint64_t panelGeneration()
{
    std::lock_guard<std::mutex> guard(linesLock);
    return generation;
}

bool setPanelLineFor(uint64_t forGeneration, const std::string& key, const std::string& text)
{
    std::lock_guard<std::mutex> guard(linesLock);
    if (forGeneration != generation) {
        return false;
    }
    setLocked(key, text);
    return true;
}

std::vector<std::string> panelLines()
{
    std::lock_guard<std::mutex> guard(linesLock);
    std::vector<std::string> texts;
    texts.reserve(lines.size());
    for (const PanelLine& line : lines) {
        texts.push_back(line.text);
    }
    return texts;
}
