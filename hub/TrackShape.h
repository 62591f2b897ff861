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

enum class TrackCheck { Canonical, Unreadable, Refused };

// Reads the file as the game does and makes what was read into bytes with
// the game's own writer, best time none. Canonical, with those bytes, when
// they are the file's own bytes but for the best time; Unreadable when the
// game refuses the file; Refused when a coordinate is not a finite number or
// the file holds bytes the writer would not write (after the track's end, or
// counts the reader takes otherwise). `why` says which, in a sentence.
TrackCheck checkTrackFile(const std::string& path, std::string& canonical, std::string& why);

// The SVG picture of a track: the ground, the start, the finish, the apples.
std::string trackSvg(const TrackShape& shape);

}  // namespace hub
