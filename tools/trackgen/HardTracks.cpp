// The harder, longer half of the pack: tracks 13 to 24. Each has one idea of
// its own; the long ones are built from floors stacked in the world's height,
// ridden in turn, one direction each, with a turn-around between them.
#include "Tracks.h"

#include "model/SinCos.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// The frame's height above flat ground with the wheels resting on it, plus a
// little air (as for the first half of the pack).
constexpr double kRideHeight = 70.0;

// A riding surface built from left to right: every point is right of the
// one before, so the outline is a function of x.
class Line {
public:
    Line(double x, double y) { points.push_back({x, y}); }

    // A straight edge to (x, y); nothing when the line is there already.
    Line& to(double x, double y)
    {
        if (x != points.back().x || y != points.back().y) {
            points.push_back({x, y});
        }
        return *this;
    }
    // Eased from the last point: flat at both ends, `samples` edges.
    Line& ease(double x, double y, int samples = 12)
    {
        const Point a = points.back();
        for (int i = 1; i <= samples; ++i) {
            const double t = static_cast<double>(i) / samples;
            const double s = t * t * (3.0 - 2.0 * t);
            points.push_back({a.x + (x - a.x) * t, a.y + (y - a.y) * s});
        }
        return *this;
    }
    // Whole sine waves on the current level up to x, 0 to `height` above it.
    Line& waves(double x, double height, int count, int samplesPerWave = 14)
    {
        const Point a = points.back();
        const int n = count * samplesPerWave;
        for (int i = 1; i <= n; ++i) {
            const double t = static_cast<double>(i) / n;
            points.push_back({a.x + (x - a.x) * t, a.y + height * (1.0 - vmath::cosine(t * count * 2.0 * kPi)) / 2.0});
        }
        return *this;
    }
    // A kicker: a curve from flat to a slope of 2 * height / length.
    Line& kick(double length, double height, int samples = 8)
    {
        const Point a = points.back();
        for (int i = 1; i <= samples; ++i) {
            const double t = static_cast<double>(i) / samples;
            points.push_back({a.x + length * t, a.y + height * t * t});
        }
        return *this;
    }
    double lastX() const { return points.back().x; }
    double lastY() const { return points.back().y; }
    const std::vector<Point>& outline() const { return points; }

    // The height at x, linear between points (the end heights outside).
    double at(double x) const
    {
        if (x <= points.front().x) {
            return points.front().y;
        }
        for (size_t i = 1; i < points.size(); ++i) {
            const Point& a = points[i - 1];
            const Point& b = points[i];
            if (x <= b.x && b.x > a.x) {
                return a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x);
            }
        }
        return points.back().y;
    }

    // A closed solid: the outline above, a flat bottom at `bottom`.
    std::vector<Point> solid(double bottom) const
    {
        std::vector<Point> polygon = points;
        polygon.push_back({points.back().x, bottom});
        polygon.push_back({points.front().x, bottom});
        return polygon;
    }

private:
    std::vector<Point> points;
};

// Samples of [left, right] about `step` apart, both ends included.
std::vector<double> samples(double left, double right, double step)
{
    const int n = std::max(1, static_cast<int>(std::ceil((right - left) / step)));
    std::vector<double> xs;
    for (int i = 0; i <= n; ++i) {
        xs.push_back(left + (right - left) * i / n);
    }
    return xs;
}

// A slab hanging over the line from `left` to `right`: its underside
// `clearance(x)` above the line, its top `thickness` above the underside's
// highest point.
template <class Clearance>
std::vector<Point> ceiling(const Line& line, double left, double right, Clearance clearance, double thickness)
{
    std::vector<Point> slab;
    double top = -1e9;
    for (double x : samples(left, right, 50.0)) {
        slab.push_back({x, line.at(x) + clearance(x)});
        top = std::max(top, slab.back().y);
    }
    slab.push_back({right, top + thickness});
    slab.push_back({left, top + thickness});
    return slab;
}

// A passage cut out of a solid block: the floor line and a roof
// `clearance(x)` above it. Two polygons: the block, then the hole.
template <class Clearance>
void addPassage(TrackDesign& track, const Line& floor, Clearance clearance, double margin)
{
    std::vector<Point> hole = floor.outline();
    double lowest = hole.front().y;
    double highest = hole.front().y;
    for (const Point& p : hole) {
        lowest = std::min(lowest, p.y);
    }
    const std::vector<double> xs = samples(floor.outline().front().x, floor.lastX(), 40.0);
    for (auto it = xs.rbegin(); it != xs.rend(); ++it) {
        const double top = floor.at(*it) + clearance(*it);
        hole.push_back({*it, top});
        highest = std::max(highest, top);
    }
    const double left = floor.outline().front().x;
    track.polygons.push_back({{left - margin, lowest - margin}, {floor.lastX() + margin, lowest - margin},
                              {floor.lastX() + margin, highest + margin}, {left - margin, highest + margin}});
    track.polygons.push_back(hole);
}

// A smooth rock: an ellipse-like blob with a flattened top to ride on.
std::vector<Point> rock(double cx, double top, double halfWidth, double depth, int count = 20)
{
    std::vector<Point> blob;
    for (int i = 0; i < count; ++i) {
        const double a = 2.0 * kPi * i / count;
        const double c = vmath::cosine(a);
        const double s = vmath::sine(a);
        // the upper half is a low arch, the lower half a deep bowl
        const double y = s > 0.0 ? top - 40.0 * (1.0 - s) : top - 40.0 + depth * s;
        blob.push_back({cx + halfWidth * c, y});
    }
    return blob;
}

std::vector<Point> box(double left, double bottom, double right, double top)
{
    return {{left, bottom}, {right, bottom}, {right, top}, {left, top}};
}

// A floor of a track built as stacked floors: a slab 200 thick under the
// line, its underside following the line.
std::vector<Point> slab(const Line& line, double thickness = 200.0)
{
    std::vector<Point> polygon = line.outline();
    const auto& top = line.outline();
    for (auto it = top.rbegin(); it != top.rend(); ++it) {
        polygon.push_back({it->x, it->y - thickness});
    }
    return polygon;
}

TrackDesign narrowCave()
{
    TrackDesign t;
    t.name = "15-narrow-cave";
    Line floor(-7000.0, 0.0);
    floor.to(-6000.0, 0.0).waves(-3600.0, 120.0, 3).ease(-2600.0, -300.0).waves(-400.0, 160.0, 2)
        .ease(600.0, 100.0).waves(3000.0, 110.0, 3).ease(4000.0, -100.0).to(6500.0, -100.0);
    // the roof follows the floor closely, tightest over the crests
    auto clearance = [](double x) { return 215.0 + 25.0 * vmath::cosine(x / 300.0); };
    addPassage(t, floor, clearance, 400.0);
    t.start = {-6700.0, kRideHeight};
    for (double x : {-4800.0, -2600.0, 1800.0, 4800.0}) {
        t.apples.push_back({x, floor.at(x) + 80.0});
    }
    t.finish = {6100.0, floor.at(6100.0) + 40.0};
    for (double x : {-4800.0, -2600.0, -400.0, 1800.0, 4800.0}) {
        t.route.push_back({x, floor.at(x) + 60.0});
    }
    t.route.push_back(t.finish);
    return t;
}

TrackDesign preciseLanding()
{
    TrackDesign t;
    t.name = "16-precise-landing";
    // Kickers over deep pits onto narrow tables; missing a table leaves the
    // bike in the pit.
    Line ground(-7200.0, 600.0);
    ground.to(-7100.0, 600.0).to(-7000.0, 0.0);
    const double gaps[] = {320.0, 370.0, 420.0, 470.0};
    const double tables[] = {560.0, 510.0, 470.0, 430.0};
    double x = -6000.0;
    for (int i = 0; i < 4; ++i) {
        ground.to(x, 0.0).kick(400.0, 110.0).to(x + 400.0, -900.0);
        const double table = x + 400.0 + gaps[i];
        ground.to(table, -900.0).to(table, 60.0).to(table + tables[i], 60.0).ease(table + tables[i] + 500.0, 0.0, 8);
        t.apples.push_back({table + tables[i] / 2.0, 140.0});
        t.route.push_back({x + 200.0, 100.0});
        t.route.push_back({table + tables[i] / 2.0, 120.0});
        x = table + tables[i] + 1600.0;
    }
    ground.to(x, 0.0).to(x + 100.0, 600.0).to(x + 200.0, 600.0);
    t.polygons.push_back(ground.solid(-1500.0));
    t.start = {-6600.0, kRideHeight};
    t.finish = {x - 500.0, 40.0};
    t.route.push_back(t.finish);
    return t;
}

TrackDesign lowCeilings()
{
    TrackDesign t;
    t.name = "17-low-ceilings";
    Line road(-7200.0, 600.0);
    road.to(-7100.0, 600.0).to(-7000.0, 0.0).to(-6000.0, 0.0).waves(-3000.0, 140.0, 3)
        .to(-2000.0, 0.0).ease(-1200.0, 250.0).ease(-400.0, 0.0).waves(2400.0, 90.0, 4)
        .to(3000.0, 0.0).ease(4000.0, -200.0).to(6400.0, -200.0).to(6500.0, 400.0).to(6600.0, 400.0);
    t.polygons.push_back(road.solid(-1200.0));
    // slabs that hang just over the head: a wheelie under them is a crash
    auto snug = [](double) { return 225.0; };
    t.polygons.push_back(ceiling(road, -5500.0, -3500.0, snug, 250.0));
    t.polygons.push_back(ceiling(road, -1900.0, -500.0, [](double) { return 240.0; }, 250.0));
    t.polygons.push_back(ceiling(road, 300.0, 2300.0, snug, 250.0));
    t.polygons.push_back(ceiling(road, 3300.0, 5600.0, [](double x) { return 215.0 + 20.0 * vmath::sine(x / 200.0); }, 250.0));
    t.start = {-6600.0, kRideHeight};
    t.apples = {{-4500.0, 150.0}, {-1200.0, 310.0}, {1300.0, 100.0}, {4600.0, -150.0}};
    t.finish = {6100.0, -160.0};
    t.route = {{-4500.0, 150.0}, {-3000.0, 40.0}, {-1200.0, 310.0}, {1300.0, 100.0}, {3000.0, 40.0},
               {4600.0, -150.0}, {6100.0, -160.0}};
    return t;
}

TrackDesign holesAndTunnels()
{
    TrackDesign t;
    t.name = "18-holes-and-tunnels";
    // A road with trenches under it; slabs roof the trenches over, leaving a
    // hole at the start of each to drop into and a ramp up at its end.
    Line road(-7200.0, 600.0);
    road.to(-7100.0, 600.0).to(-7000.0, 0.0);
    struct Trench {
        double left, right, depth;
    };
    const Trench trenches[] = {{-5800.0, -3400.0, 420.0}, {-2600.0, 200.0, 520.0}, {1000.0, 4400.0, 460.0}};
    for (const Trench& tr : trenches) {
        if (road.lastX() < tr.left) {
            road.to(tr.left, 0.0);
        }
        road.to(tr.left + 10.0, -tr.depth).ease(tr.left + 700.0, -tr.depth - 80.0, 8)
            .ease(tr.right - 900.0, -tr.depth, 8).ease(tr.right, 0.0, 12);
        road.to(tr.right + 800.0, 0.0);
    }
    road.to(6400.0, 0.0).to(6500.0, 600.0).to(6600.0, 600.0);
    t.polygons.push_back(road.solid(-1500.0));
    for (const Trench& tr : trenches) {
        // the roof: its top flush with the road, its underside 240 over the trench floor
        const double left = tr.left + 320.0;
        const double right = tr.right - 700.0;
        std::vector<Point> roof;
        for (double sx : samples(left, right, 50.0)) {
            roof.push_back({sx, std::min(-60.0, road.at(sx) + 240.0)});
        }
        roof.push_back({right, 0.0});
        roof.push_back({left, 0.0});
        t.polygons.push_back(roof);
    }
    t.start = {-6600.0, kRideHeight};
    t.apples = {{-4600.0, -400.0}, {-1000.0, -520.0}, {2700.0, -450.0}, {5200.0, 40.0}};
    t.finish = {6000.0, 40.0};
    t.route = {{-5600.0, -380.0}, {-4600.0, -400.0}, {-3400.0, 40.0}, {-2400.0, -480.0}, {-1000.0, -520.0},
               {200.0, 40.0}, {1200.0, -420.0}, {2700.0, -450.0}, {4400.0, 40.0}, {5200.0, 40.0},
               {6000.0, 40.0}};
    return t;
}

TrackDesign floatingRocks()
{
    TrackDesign t;
    t.name = "19-floating-rocks";
    // The ground lies far below; the way is over rocks that float in the
    // air, each a little lower than the one before.
    Line ground(-7200.0, -2500.0);
    ground.to(7200.0, -2500.0);
    t.polygons.push_back(ground.solid(-3000.0));
    t.polygons.push_back(box(-7200.0, -2500.0, -5600.0, 1600.0));
    // rocks: left edge, top, width; the gaps between them grow
    double left = -5600.0;
    double top = 1600.0;
    const double widths[] = {700.0, 650.0, 600.0, 600.0, 550.0, 550.0, 500.0, 500.0, 480.0, 460.0};
    for (size_t i = 0; i < std::size(widths); ++i) {
        left += 220.0 + 20.0 * i;
        top -= 110.0;
        t.polygons.push_back(rock(left + widths[i] / 2.0, top, widths[i] / 2.0, 260.0));
        t.route.push_back({left + widths[i] / 2.0, top + 60.0});
        if (i % 3 == 1) {
            t.apples.push_back({left + widths[i] / 2.0, top + 90.0});
        }
        left += widths[i];
    }
    left += 300.0;
    top -= 120.0;
    t.polygons.push_back(box(left, -2500.0, 7200.0, top));
    t.start = {-6600.0, 1600.0 + kRideHeight};
    t.finish = {left + 500.0, top + 40.0};
    t.route.push_back(t.finish);
    return t;
}

TrackDesign bothEnds()
{
    TrackDesign t;
    t.name = "20-both-ends";
    // The start lies in the middle, an apple waits at each end and the
    // finish on the hill between: the bike turns round at each end.
    Line road(-7200.0, 700.0);
    road.to(-7100.0, 700.0).to(-7000.0, 200.0).ease(-6500.0, 0.0).waves(-3500.0, 180.0, 3)
        .to(-2400.0, 0.0).ease(-1800.0, 220.0).to(-1500.0, 220.0).ease(-900.0, 0.0).waves(3000.0, 140.0, 4)
        .to(4000.0, 0.0).waves(6500.0, 260.0, 2).ease(7000.0, 200.0).to(7100.0, 700.0).to(7200.0, 700.0);
    t.polygons.push_back(road.solid(-1200.0));
    t.start = {-3000.0, kRideHeight};
    t.apples = {{6600.0, road.at(6600.0) + 80.0}, {-6650.0, road.at(-6650.0) + 80.0}};
    t.finish = {-1650.0, 290.0};
    t.route = {{3000.0, 60.0}, {6500.0, 60.0}, {6600.0, road.at(6600.0) + 60.0}, {4000.0, 60.0},
               {0.0, 60.0}, {-3500.0, 60.0}, {-6650.0, road.at(-6650.0) + 60.0}, {-3500.0, 60.0},
               {-2400.0, 60.0}, t.finish};
    return t;
}

TrackDesign roundTheRoom()
{
    TrackDesign t;
    t.name = "06-round-the-room";
    // A long descent for speed, then a round room: the apples hang under its
    // roof, so the bike rides up the wall and upside down across the ceiling.
    constexpr double kRadius = 650.0;
    constexpr double kTunnel = 340.0;
    const double cx = 3600.0;
    Line road(-7200.0, 3200.0);
    road.to(-7100.0, 3200.0).to(-7000.0, 2700.0).to(-6400.0, 2700.0).ease(0.0, 0.0, 40)
        .to(1500.0, 0.0);
    t.polygons.push_back(road.solid(-1000.0));
    // the rock round the tunnel and the room: from the tunnel's roof, along
    // the room's wall over the top and down to its lowest point, then back
    // along the floor to the tunnel's mouth
    const double right = cx + kRadius + 600.0;
    const double top = 2.0 * kRadius + 600.0;
    std::vector<Point> block = {{1500.0, kTunnel}};
    const double entry = kPi + std::asin((kTunnel - kRadius) / kRadius);
    const int arcSamples = 72;
    for (int i = 0; i <= arcSamples; ++i) {
        const double a = entry - (entry + kPi / 2.0) * i / arcSamples;
        block.push_back({cx + kRadius * vmath::cosine(a), kRadius + kRadius * vmath::sine(a)});
    }
    block.push_back({1500.0, 0.0});
    block.push_back({1500.0, -600.0});
    block.push_back({right, -600.0});
    block.push_back({right, top});
    block.push_back({1500.0, top});
    t.polygons.push_back(block);
    t.start = {-6600.0, 2700.0 + kRideHeight};
    for (double deg : {30.0, 90.0, 150.0}) {
        const double a = deg * kPi / 180.0;
        t.apples.push_back({cx + (kRadius - 80.0) * vmath::cosine(a), kRadius + (kRadius - 80.0) * vmath::sine(a)});
    }
    t.finish = {cx - kRadius + 80.0, kRadius + 60.0};
    t.route = {{-3000.0, road.at(-3000.0) + 60.0}, {0.0, 60.0}, {cx, 60.0}, {cx + kRadius - 80.0, kRadius},
               t.apples[0], t.apples[1], t.apples[2], t.finish};
    return t;
}

TrackDesign longClimb()
{
    TrackDesign t;
    t.name = "21-long-climb";
    // Pitch after pitch up the mountain, each steeper than the last, with a
    // short rest between them.
    Line road(-7300.0, -3300.0);
    road.to(-7200.0, -3300.0).to(-7100.0, -3800.0).to(-6300.0, -3800.0);
    double x = -6300.0;
    double y = -3800.0;
    for (int i = 0; i < 11; ++i) {
        const double rise = 350.0 + 30.0 * i;
        road.ease(x + 900.0, y + rise, 14).to(x + 1200.0, y + rise);
        x += 1200.0;
        y += rise;
        if (i % 3 == 2) {
            t.apples.push_back({x - 150.0, y + 80.0});
        }
        t.route.push_back({x - 150.0, y + 60.0});
    }
    road.to(x + 500.0, y).to(x + 600.0, y + 500.0).to(x + 700.0, y + 500.0);
    t.polygons.push_back(road.solid(-4500.0));
    t.start = {-6800.0, -3800.0 + kRideHeight};
    t.finish = {x + 250.0, y + 40.0};
    t.route.push_back(t.finish);
    return t;
}

TrackDesign overAndUnder()
{
    TrackDesign t;
    t.name = "22-over-and-under";
    // A slalom through rocks: under the high ones, whose underside clears
    // the head only just, over the low ones, from a kicker.
    Line road(-7200.0, 600.0);
    road.to(-7100.0, 600.0).to(-7000.0, 0.0);
    double x = -6000.0;
    for (int i = 0; i < 5; ++i) {
        // under: a slab 240 over the road, a dip beneath it
        road.to(x, 0.0).ease(x + 400.0, -60.0, 8).ease(x + 1000.0, 0.0, 8);
        t.polygons.push_back(box(x + 100.0, 180.0, x + 900.0, 700.0));
        t.apples.push_back({x + 500.0, 40.0});
        t.route.push_back({x + 500.0, 10.0});
        x += 1200.0 - 20.0 * i;
        // over: a kicker, then a rock too low to pass beneath
        road.to(x, 0.0).kick(350.0, 130.0).to(x + 360.0, 100.0).to(x + 370.0, 0.0);
        t.polygons.push_back(rock(x + 800.0, 260.0, 380.0, 150.0));
        t.apples.push_back({x + 800.0, 340.0});
        t.route.push_back({x + 200.0, 150.0});
        t.route.push_back({x + 800.0, 330.0});
        x += 1300.0;
    }
    road.to(x + 600.0, 0.0).to(x + 700.0, 600.0).to(x + 800.0, 600.0);
    t.polygons.push_back(road.solid(-1000.0));
    t.start = {-6600.0, kRideHeight};
    t.finish = {x + 300.0, 40.0};
    t.route.push_back(t.finish);
    return t;
}

// Stacked floors ridden in turn: floor 0 to the right, the next one below
// back to the left, and so on. Each floor ends in a lip to drop from onto
// the next, whose far end rises as a wall to stop the bike for its turn.
// `shape(t, line, k, y)` draws floor k's own ground (at height y) into the
// line from x = -4700 to 4700, left to right. Returns the last floor's height.
constexpr double kFloorEnd = 5000.0;   // where the floors' lips end

template <class Shape>
double addFloors(TrackDesign& t, int floors, double top, double spacing, Shape shape)
{
    for (int k = 0; k < floors; ++k) {
        const double y = top - spacing * k;
        const bool rightward = k % 2 == 0;
        const bool last = k + 1 == floors;
        const bool leftWall = rightward || last;
        const bool rightWall = !rightward || last;
        Line line = leftWall ? Line(-7300.0, y + 500.0) : Line(-kFloorEnd, y - 80.0);
        if (leftWall) {
            line.ease(-6700.0, y, 8);
        } else {
            line.ease(-kFloorEnd + 300.0, y, 6);
        }
        line.to(-4700.0, y);
        shape(t, line, k, y);
        line.to(4700.0, y);
        if (rightWall) {
            line.to(6700.0, y).ease(7300.0, y + 500.0, 8);
        } else {
            line.ease(kFloorEnd, y - 80.0, 6);
        }
        t.polygons.push_back(slab(line));
        if (!last) {
            const double side = rightward ? 1.0 : -1.0;
            t.route.push_back({side * (kFloorEnd + 800.0), y - spacing + 60.0});
            t.route.push_back({side * 6900.0, y - spacing + 250.0});
            t.route.push_back({side * (kFloorEnd - 300.0), y - spacing + 60.0});
        }
    }
    return top - spacing * (floors - 1);
}

TrackDesign descent()
{
    TrackDesign t;
    t.name = "23-descent";
    // Down the world's height from ledge to ledge: drops of every size, a
    // slope now and then, and the speed to keep in hand for the next ledge.
    Line road(-7300.0, 5000.0);
    road.to(-7200.0, 5000.0).to(-7100.0, 4500.0);
    double x = -6300.0;
    double y = 4500.0;
    const double drops[] = {350.0, 500.0, 420.0, 600.0, 380.0, 550.0, 450.0, 650.0, 400.0, 520.0, 600.0, 450.0};
    for (size_t i = 0; i < std::size(drops); ++i) {
        road.to(x, y);
        if (i % 4 == 3) {
            // a slope in place of a drop, with a bump on it
            road.ease(x + 350.0, y - drops[i] * 0.6, 8).ease(x + 500.0, y - drops[i] * 0.5, 4)
                .ease(x + 700.0, y - drops[i], 8);
            x += 700.0;
        } else {
            road.to(x, y - drops[i]);
        }
        y -= drops[i];
        if (i % 3 == 1) {
            t.apples.push_back({x + 350.0, y + 80.0});
        }
        t.route.push_back({x + 300.0, y + 60.0});
        x += 900.0 - 10.0 * i;
    }
    road.to(x + 700.0, y).to(x + 800.0, y + 500.0).to(x + 900.0, y + 500.0);
    t.polygons.push_back(road.solid(y - 800.0));
    t.start = {-6700.0, 4500.0 + kRideHeight};
    t.finish = {x + 400.0, y + 40.0};
    t.route.push_back(t.finish);
    return t;
}

TrackDesign stalactites()
{
    TrackDesign t;
    t.name = "05-stalactites";
    t.sharpCorners = true;
    // A cave whose roof hangs down in sharp points, their tips just over the
    // head of a bike that rides level: a jump or a wheelie beneath one is a
    // crash. The points are the track's idea.
    Line floor(-7000.0, 0.0);
    floor.to(-6200.0, 0.0).waves(-2600.0, 110.0, 3).to(-1800.0, 0.0).ease(-800.0, -300.0).waves(3400.0, 90.0, 3)
        .ease(4400.0, -100.0).to(6800.0, -100.0);
    constexpr double kRoof = 430.0;
    constexpr double kHalfBase = 70.0;
    // spikes: x, height of the tip over the floor
    const double spikes[][2] = {{-5500.0, 205.0}, {-5000.0, 195.0}, {-4300.0, 200.0}, {-3900.0, 190.0},
                                {-3000.0, 195.0}, {-1500.0, 200.0}, {-1000.0, 190.0}, {-300.0, 195.0},
                                {400.0, 190.0},   {900.0, 188.0},   {1600.0, 190.0},  {2500.0, 188.0},
                                {3000.0, 192.0},  {3900.0, 190.0},  {4800.0, 186.0},  {5200.0, 186.0},
                                {5600.0, 186.0}};
    std::vector<Point> roof;
    for (double x : samples(-7000.0, 6800.0, 40.0)) {
        bool inSpike = false;
        for (const auto& sp : spikes) {
            inSpike = inSpike || std::abs(x - sp[0]) < kHalfBase + 20.0;
        }
        if (!inSpike) {
            roof.push_back({x, floor.at(x) + kRoof});
        }
    }
    for (const auto& sp : spikes) {
        roof.push_back({sp[0] - kHalfBase, floor.at(sp[0] - kHalfBase) + kRoof});
        roof.push_back({sp[0], floor.at(sp[0]) + sp[1]});
        roof.push_back({sp[0] + kHalfBase, floor.at(sp[0] + kHalfBase) + kRoof});
    }
    std::sort(roof.begin(), roof.end(), [](const Point& a, const Point& b) { return a.x > b.x; });
    std::vector<Point> hole = floor.outline();
    hole.insert(hole.end(), roof.begin(), roof.end());
    t.polygons.push_back(box(-7400.0, -800.0, 7200.0, 1000.0));
    t.polygons.push_back(hole);
    t.start = {-6700.0, kRideHeight};
    for (double x : {-4600.0, -1250.0, 1250.0, 4200.0}) {
        t.apples.push_back({x, floor.at(x) + 70.0});
        t.route.push_back({x, floor.at(x) + 60.0});
    }
    t.finish = {6400.0, -60.0};
    t.route.push_back(t.finish);
    return t;
}

TrackDesign finale()
{
    TrackDesign t;
    t.name = "24-finale";
    // Nine floors, each a test from the pack: hills, low ceilings, jumps
    // over trenches, a tunnel, waves, stairs, a chain of kickers, low
    // ceilings again, and at last a climb to the finish.
    constexpr int kFloors = 9;
    constexpr double kTop = 5000.0;
    constexpr double kSpacing = 1100.0;
    std::vector<std::vector<Point>> floorRoutes(kFloors);
    const double last = addFloors(t, kFloors, kTop, kSpacing, [&](TrackDesign& track, Line& line, int k, double y) {
        std::vector<Point>& route = floorRoutes[k];
        switch (k) {
        case 0:   // rolling hills
            line.to(-4200.0, y).waves(4200.0, 220.0, 6);
            track.apples.push_back({-1400.0, line.at(-1400.0) + 80.0});
            break;
        case 1:
        case 7:   // low ceilings
            line.to(-4500.0, y).waves(-1500.0, 80.0, 3).to(0.0, y).ease(1000.0, y + 150.0).to(2500.0, y + 150.0)
                .ease(3500.0, y);
            track.polygons.push_back(ceiling(line, -4300.0, -1700.0, [](double) { return 235.0; }, 250.0));
            track.polygons.push_back(ceiling(line, 1200.0, 2300.0, [](double) { return 230.0; }, 250.0));
            track.apples.push_back({1750.0, y + 150.0 + 70.0});
            break;
        case 2:   // jumps over trenches that can be ridden out of
            for (double x = -4200.0; x < 3500.0; x += 2600.0) {
                line.to(x, y).kick(350.0, 100.0).to(x + 360.0, y - 300.0).ease(x + 900.0, y - 330.0, 6)
                    .ease(x + 1500.0, y, 10);
                route.push_back({x + 1600.0, y + 60.0});
            }
            track.apples.push_back({-3200.0, y + 200.0});
            break;
        case 3: {   // a tunnel under the floor
            // ridden leftwards: in through a hole on the right, out up a ramp
            line.to(-3800.0, y).ease(-2600.0, y - 450.0, 12).ease(1000.0, y - 500.0, 8).to(2200.0, y - 450.0)
                .to(2200.0, y);
            std::vector<Point> roof;
            for (double sx : samples(-3100.0, 1800.0, 50.0)) {
                roof.push_back({sx, std::min(y - 60.0, line.at(sx) + 240.0)});
            }
            roof.push_back({1800.0, y});
            roof.push_back({-3100.0, y});
            track.polygons.push_back(roof);
            track.apples.push_back({-500.0, line.at(-500.0) + 70.0});
            route.push_back({2000.0, y - 400.0});
            route.push_back({-500.0, line.at(-500.0) + 60.0});
            route.push_back({-3200.0, y - 200.0});
            break;
        }
        case 4:   // quick waves
            line.to(-4400.0, y).waves(4400.0, 100.0, 11);
            track.apples.push_back({-2800.0, line.at(-2800.0) + 80.0});
            break;
        case 5:   // stairs up and down
            for (int i = 0; i < 4; ++i) {
                const double x = -4000.0 + 450.0 * i;
                line.to(x, y + 60.0 * i).ease(x + 150.0, y + 60.0 * (i + 1), 4);
            }
            line.to(1000.0, y + 240.0);
            for (int i = 0; i < 4; ++i) {
                const double x = 1000.0 + 550.0 * i;
                line.ease(x + 150.0, y + 180.0 - 60.0 * i, 4).to(x + 550.0, y + 180.0 - 60.0 * i);
            }
            track.apples.push_back({-800.0, y + 240.0 + 80.0});
            break;
        case 6:   // a chain of kickers over shallow dips
            for (double x = -4200.0; x < 3800.0; x += 1600.0) {
                line.to(x, y).kick(300.0, 80.0).to(x + 310.0, y - 150.0).ease(x + 1200.0, y, 10);
            }
            track.apples.push_back({1000.0, y + 260.0});
            break;
        default:   // a climb to the finish, on the right
            line.to(-3800.0, y);
            for (int i = 0; i < 4; ++i) {
                line.ease(-3000.0 + 1600.0 * i, y + 70.0 * (i + 1), 12).to(-2200.0 + 1600.0 * i, y + 70.0 * (i + 1));
            }
            line.to(4000.0, y + 280.0).ease(4400.0, y, 8);
            track.apples.push_back({0.0, line.at(0.0) + 80.0});
            break;
        }
    });
    t.start = {-6000.0, kTop + kRideHeight};
    t.finish = {3700.0, last + 320.0};
    // the route: each floor's own points in riding order, then its slide
    std::vector<Point> route;
    for (int k = 0; k < kFloors; ++k) {
        const double side = k % 2 == 0 ? 1.0 : -1.0;
        std::vector<Point> own = floorRoutes[k];
        std::sort(own.begin(), own.end(), [side](const Point& a, const Point& b) { return side * a.x < side * b.x; });
        for (const Point& a : t.apples) {
            if (a.y > kTop - kSpacing * k - 750.0 && a.y < kTop - kSpacing * k + 450.0) {
                own.push_back(a);
            }
        }
        std::sort(own.begin(), own.end(), [side](const Point& a, const Point& b) { return side * a.x < side * b.x; });
        route.insert(route.end(), own.begin(), own.end());
        if (k + 1 < kFloors) {
            for (int i = 0; i < 3; ++i) {
                route.push_back(t.route[3 * k + i]);
            }
        }
    }
    route.push_back(t.finish);
    t.route = route;
    return t;
}

}  // namespace

std::vector<TrackDesign> harderTracks()
{
    // in order of difficulty: the share of shifted proof runs that finish
    return {roundTheRoom(), stalactites(), narrowCave(), preciseLanding(), lowCeilings(), holesAndTunnels(),
            floatingRocks(), bothEnds(), longClimb(), overAndUnder(), descent(), finale()};
}
