#include "GameTestSupport.h"

#include "model/Apple.h"
#include "model/Polygon.h"
#include "model/TrackFile.h"
#include "platform/MessageBox.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>

std::filesystem::path scratchDir(const std::string& name)
{
    const auto dir = std::filesystem::temp_directory_path() /
                     ("velto-game-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

bool writeTestTrack(const std::string& path, const TestTrack& track)
{
    Cpolygons* head = nullptr;
    Cpolygons* tail = nullptr;
    for (const auto& outline : track.polygons) {
        auto* node = new Cpolygons;
        node->polygon = new Cpolygon;
        for (const auto& [x, y] : outline) {
            node->polygon->addVertex(x, y);
        }
        if (tail == nullptr) {
            head = node;
        } else {
            tail->next = node;
            node->prev = tail;
        }
        tail = node;
    }
    std::unique_ptr<Cpolygons> polygons(head);
    Capples* first = nullptr;
    Capples* last = nullptr;
    for (const auto& [x, y] : track.apples) {
        auto* apple = new Capples(x, y);
        if (last == nullptr) {
            first = apple;
        } else {
            last->next = apple;
            apple->prev = last;
        }
        last = apple;
    }
    std::unique_ptr<Capples> apples(first);
    return writeTrack(path, track.bestTime, Cvector(track.startX, track.startY),
                      Cvector(track.finishX, track.finishY), static_cast<int32_t>(track.polygons.size()),
                      polygons.get(), static_cast<int32_t>(track.apples.size()), apples.get());
}

double storedBestTime(const std::string& path)
{
    double value = std::nan("");
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        if (std::fread(&value, sizeof value, 1, file) != 1) {
            value = std::nan("");
        }
        std::fclose(file);
    }
    return value;
}

MessageRecorder::MessageRecorder()
{
    setMessageBoxHandler([this](const std::string& text, const std::string& caption, unsigned flags) {
        messages.push_back({text, caption, flags});
        return IDOK;
    });
}

MessageRecorder::~MessageRecorder()
{
    setMessageBoxHandler(nullptr);
}
