#include "GameTestSupport.h"

#include "Tracks.h"
#include "platform/MessageBox.h"

#include <cmath>
#include <cstdio>
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
    TrackDesign design;
    design.start = {track.startX, track.startY};
    design.finish = {track.finishX, track.finishY};
    for (const auto& outline : track.polygons) {
        std::vector<Point>& points = design.polygons.emplace_back();
        for (const auto& [x, y] : outline) {
            points.push_back({x, y});
        }
    }
    for (const auto& [x, y] : track.apples) {
        design.apples.push_back({x, y});
    }
    return writeDesign(design, path, track.bestTime);
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
