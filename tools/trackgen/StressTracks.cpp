// Tracks that load the drawing or the broad phase rather than the rider: the
// pack's first track with a tangle of random edges about the start, with
// thousands of apples over the world, or with long edges far below the ride.
// For tests and measurements; not part of the pack.
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

TrackDesign farEdgesTrack(int edges, uint32_t seed)
{
    TrackDesign t = firstTracks().front();
    t.name = "far-" + std::to_string(edges) + "-" + std::to_string(seed);
    if (edges < 3) {
        return t;
    }
    // A zigzag from one side of the world to the other and back, climbing a
    // little each time: every edge spans the width, none crosses another.
    std::mt19937_64 random(seed);
    std::vector<Point> zigzag;
    const double rise = 900.0 / edges;
    for (int i = 0; i < edges; ++i) {
        const double x = i % 2 == 0 ? -7900.0 : 7900.0;
        zigzag.push_back({x + uniform(random, -50.0, 50.0) * (i % 2 == 0 ? 1.0 : -1.0), -5900.0 + rise * i});
    }
    t.polygons.push_back(zigzag);
    return t;
}
