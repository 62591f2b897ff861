// A track file read with the game's own reader, copied into plain values.
// The reader works through shared state, so the hub's threads take turns.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace hub {

struct TrackShape {
    std::pair<double, double> start{0.0, 0.0};
    std::pair<double, double> finish{0.0, 0.0};
    std::vector<std::vector<std::pair<double, double>>> polygons;
    std::vector<std::pair<double, double>> apples;
};

// False when the game would refuse the file.
bool readTrackShape(const std::string& path, TrackShape& shape);

// The SVG picture of a track: the ground, the start, the finish, the apples.
std::string trackSvg(const TrackShape& shape);

}  // namespace hub
