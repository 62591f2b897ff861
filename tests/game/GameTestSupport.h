// Shared helpers of the game tests: scratch folders and small tracks.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct TestTrack {
    double bestTime = -1.0;
    double startX = 0.0, startY = 70.0;
    double finishX = 2000.0, finishY = 40.0;
    // Flat ground from x -1000 to 3000 at y 0, with walls at both ends.
    std::vector<std::vector<std::pair<double, double>>> polygons = {
        {{-1000.0, 400.0}, {-900.0, 0.0}, {2900.0, 0.0}, {3000.0, 400.0}, {3000.0, -500.0}, {-1000.0, -500.0}}};
    std::vector<std::pair<double, double>> apples;
};

// A fresh empty folder below the system's temporary folder.
std::filesystem::path scratchDir(const std::string& name);

// Writes `track` to `path`; false on failure.
bool writeTestTrack(const std::string& path, const TestTrack& track);

// The 8 bytes at offset 0 of a file, as a double (NaN when unreadable).
double storedBestTime(const std::string& path);

// Messages shown through messageBox while a recorder is installed.
struct ShownMessage {
    std::string text;
    std::string caption;
    unsigned flags;
};
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    std::vector<ShownMessage> messages;
};
