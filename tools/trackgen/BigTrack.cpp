// Big generated tracks for the broad-phase tests and benchmarks: floors of
// rough ground stacked up the world, the underside of each floor a ceiling
// of the one below (low over caves), pits and steps in every floor, and
// pebbles buried in the ground as holes of the fill.
#include "Tracks.h"

#include "model/SinCos.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// A small, fixed generator: the same seed gives the same track everywhere.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next()
    {
        state_ += 0x9E3779B97F4A7C15ull;
        uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi).
    double uniform(double lo, double hi) { return lo + (hi - lo) * static_cast<double>(next() >> 11) * 0x1.0p-53; }

private:
    uint64_t state_;
};

constexpr double kLeft = -7800.0;
constexpr double kRight = 7800.0;
constexpr double kFloorPitch = 400.0;   // from one floor's base to the next
constexpr double kSlab = 60.0;          // thickness of a floor under its base line
constexpr double kPitDepth = 28.0;
constexpr double kPitWidth = 60.0;
constexpr double kClearStart = 400.0;   // flat ground at the left end of each floor

}  // namespace

TrackDesign bigTrack(int edges, uint32_t seed)
{
    TrackDesign t;
    t.name = "big-" + std::to_string(edges) + "-" + std::to_string(seed);
    Random random(seed);
    edges = std::max(edges, 16);

    const int floors = std::clamp(edges / 4000, 1, 28);
    // About half the edges in the floors' outlines, the rest in pebbles.
    const int perLine = std::max(8, edges / 2 / floors / 2);
    const double spacing = (kRight - kLeft) / perLine;
    const double lowest = -kFloorPitch * floors / 2.0;

    for (int f = 0; f < floors; ++f) {
        const double base = lowest + kFloorPitch * f;
        std::vector<Point> slab;
        // The floor, left to right: rolling ground with pits and steps.
        double lift = 0.0;
        for (int i = 0; i <= perLine; ++i) {
            const double x = kLeft + spacing * i;
            if (x < kLeft + kClearStart) {
                slab.push_back({x, base});
                continue;
            }
            const double ease = std::min(1.0, (x - kLeft - kClearStart) / 600.0);
            const double roll = ease * (20.0 * vmath::sine(x / 170.0 + f) + 20.0);
            const double dice = random.uniform(0.0, 1.0);
            if (ease < 1.0) {
                slab.push_back({x, base + roll});
                continue;
            }
            if (dice < 0.02 && x + kPitWidth < kRight - spacing) {
                const double y = base + roll + lift;
                slab.push_back({x, y});
                slab.push_back({x, y - kPitDepth});
                slab.push_back({x + kPitWidth, y - kPitDepth});
                slab.push_back({x + kPitWidth, y});
                i += static_cast<int>(std::ceil(kPitWidth / spacing));
                continue;
            }
            if (dice < 0.04) {
                // A step up or down: two vertices one above the other.
                slab.push_back({x, base + roll + lift});
                lift = lift > 0.0 ? 0.0 : random.uniform(8.0, 16.0);
            }
            slab.push_back({x, base + roll + lift});
        }
        // The underside, right to left: the ceiling of the floor below,
        // hanging low over caves.
        for (int i = perLine; i >= 0; --i) {
            const double x = kLeft + spacing * i;
            const double cave = std::max(0.0, vmath::sine(x / 900.0 + 2.0 * f)) * 110.0;
            slab.push_back({x, base - kSlab - cave - random.uniform(0.0, 6.0)});
        }
        t.polygons.push_back(std::move(slab));
    }

    int used = 0;
    for (const auto& polygon : t.polygons) {
        used += static_cast<int>(polygon.size());
    }
    // Pebbles inside the slabs, clear of pits and caves: holes of the fill.
    int left = edges - used;
    while (left >= 3) {
        const int sides = left >= 12 ? 6 : left;
        const int f = static_cast<int>(random.next() % static_cast<uint64_t>(floors));
        const double cx = random.uniform(kLeft + 50.0, kRight - 50.0);
        const double cy = lowest + kFloorPitch * f - 45.0;
        const double r = random.uniform(4.0, 10.0);
        std::vector<Point> pebble;
        for (int k = 0; k < sides; ++k) {
            const double a = 2.0 * 3.14159265358979323846 * k / sides;
            pebble.push_back({cx + r * vmath::cosine(a), cy + r * vmath::sine(a)});
        }
        t.polygons.push_back(std::move(pebble));
        left -= sides;
    }

    // Start at the left of the middle floor, finish at its right end.
    const double base = lowest + kFloorPitch * (floors / 2);
    t.start = {kLeft + 200.0, base + 70.0};
    t.finish = {kRight - 100.0, base + 120.0};
    for (int k = 1; k <= 5; ++k) {
        t.apples.push_back({kLeft + 2600.0 * k, base + 130.0});
    }
    t.route = t.apples;
    t.route.push_back(t.finish);
    return t;
}
