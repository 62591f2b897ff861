// Tracks that load the drawing rather than the rider: the pack's first track
// with a tangle of random edges about the start, or with thousands of apples
// over the world. For tests and measurements; not part of the pack.
#include "Tracks.h"

#include <random>
#include <string>

namespace {

// Uniform in [lo, hi), the same on every machine for one seed.
double uniform(std::mt19937_64& random, double lo, double hi)
{
    return lo + (hi - lo) * static_cast<double>(random() >> 11) * 0x1.0p-53;
}

}  // namespace

TrackDesign tangledTrack(int vertices, uint32_t seed)
{
    TrackDesign t = firstTracks().front();
    t.name = "tangle-" + std::to_string(vertices) + "-" + std::to_string(seed);
    std::mt19937_64 random(seed);
    std::vector<Point> tangle;
    for (int i = 0; i < vertices; ++i) {
        tangle.push_back({uniform(random, t.start.x - 1200.0, t.start.x + 1200.0),
                          uniform(random, t.start.y - 900.0, t.start.y + 900.0)});
    }
    t.polygons.push_back(tangle);
    return t;
}

TrackDesign appleTrack(int count, uint32_t seed)
{
    TrackDesign t = firstTracks().front();
    t.name = "apples-" + std::to_string(count) + "-" + std::to_string(seed);
    std::mt19937_64 random(seed);
    for (int i = 0; i < count; ++i) {
        t.apples.push_back({uniform(random, -7900.0, 7900.0), uniform(random, -5900.0, 5900.0)});
    }
    return t;
}
