#include "Tracks.h"

#include "model/Apple.h"
#include "model/Polygon.h"
#include "model/TrackFile.h"
#include "physics/Motorbike.h"
#include "physics/World.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Height of the bike's frame above flat ground when its wheels just rest on
// it (wheel centre 113/3 below the frame, radius 80/3), plus a little air.
constexpr double kRideHeight = 70.0;

// A ground outline built from left to right.
class Profile {
public:
    explicit Profile(double x, double y) { points.push_back({x, y}); }

    Profile& to(double x, double y)
    {
        points.push_back({x, y});
        return *this;
    }
    // Eased from the last point to (x, y): flat at both ends.
    Profile& ease(double x, double y, int samples = 12)
    {
        const Point a = points.back();
        for (int i = 1; i <= samples; ++i) {
            const double t = static_cast<double>(i) / samples;
            const double s = t * t * (3.0 - 2.0 * t);
            points.push_back({a.x + (x - a.x) * t, a.y + (y - a.y) * s});
        }
        return *this;
    }
    // Sine hills on the current level up to x: `waves` whole waves, heights
    // from 0 to `height` above the level.
    Profile& hills(double x, double height, int waves, int samplesPerWave = 16)
    {
        const Point a = points.back();
        const int n = waves * samplesPerWave;
        for (int i = 1; i <= n; ++i) {
            const double t = static_cast<double>(i) / n;
            const double phase = t * waves * 2.0 * kPi;
            points.push_back({a.x + (x - a.x) * t, a.y + height * (1.0 - std::cos(phase)) / 2.0});
        }
        return *this;
    }
    double lastX() const { return points.back().x; }
    double lastY() const { return points.back().y; }

    // Closed polygon: the outline, then down to `bottom` and back.
    std::vector<Point> solid(double bottom) const
    {
        std::vector<Point> polygon = points;
        polygon.push_back({points.back().x, bottom});
        polygon.push_back({points.front().x, bottom});
        return polygon;
    }
    const std::vector<Point>& outline() const { return points; }

private:
    std::vector<Point> points;
};

std::vector<Point> box(double left, double bottom, double right, double top)
{
    return {{left, bottom}, {right, bottom}, {right, top}, {left, top}};
}

// Height of a profile outline at x (linear between its points).
double heightAt(const std::vector<Point>& outline, double x)
{
    for (size_t i = 1; i < outline.size(); ++i) {
        const Point& a = outline[i - 1];
        const Point& b = outline[i];
        if (x >= a.x && x <= b.x && b.x > a.x) {
            return a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x);
        }
    }
    return outline.back().y;
}

// A cave: a solid block with the passage cut out of it as a hole. The
// passage is the floor outline and, above it, a ceiling `clearance(x)` higher.
template <class Clearance>
void addCave(TrackDesign& track, const Profile& floor, Clearance clearance, double margin)
{
    const std::vector<Point>& f = floor.outline();
    double lowest = f.front().y;
    double highest = f.front().y;
    std::vector<Point> hole = f;
    for (const Point& v : f) {
        lowest = std::min(lowest, v.y);
    }
    // The roof, from right to left, sampled finely so that every change of
    // the clearance shows.
    const double left = f.front().x;
    const double right = f.back().x;
    constexpr double kRoofStep = 25.0;
    const int samples = static_cast<int>(std::ceil((right - left) / kRoofStep));
    for (int i = samples; i >= 0; --i) {
        const double x = std::max(left, right - (samples - i) * kRoofStep);
        const double top = heightAt(f, x) + clearance(x);
        hole.push_back({x, top});
        highest = std::max(highest, top);
    }
    track.polygons.push_back(box(left - margin, lowest - margin, right + margin, highest + margin));
    track.polygons.push_back(hole);
}

TrackDesign firstRide()
{
    TrackDesign t;
    t.name = "01-first-ride";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(500.0, 0.0).ease(800.0, 40.0).ease(1100.0, 0.0)
        .to(1900.0, 0.0).ease(2200.0, 30.0).ease(2500.0, 0.0).to(3000.0, 0.0).to(3200.0, 400.0)
        .to(3300.0, 400.0);
    t.polygons.push_back(p.solid(-600.0));
    t.start = {0.0, kRideHeight};
    t.apples = {{900.0, 80.0}, {1700.0, 40.0}};
    t.finish = {2800.0, 40.0};
    t.route = {{900.0, 80.0}, {1700.0, 40.0}, {2800.0, 40.0}};
    return t;
}

TrackDesign rollingHills()
{
    TrackDesign t;
    t.name = "02-rolling-hills";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(300.0, 0.0).hills(1700.0, 90.0, 2).hills(3500.0, 160.0, 2)
        .to(4300.0, 0.0).to(4500.0, 400.0).to(4600.0, 400.0);
    t.polygons.push_back(p.solid(-600.0));
    t.start = {0.0, kRideHeight};
    t.apples = {{650.0, 140.0}, {1700.0, 40.0}, {2150.0, 210.0}, {3050.0, 210.0}};
    t.finish = {4000.0, 40.0};
    t.route = {{650.0, 140.0}, {1350.0, 140.0}, {1700.0, 40.0}, {2150.0, 210.0}, {2600.0, 40.0},
               {3050.0, 210.0}, {4000.0, 40.0}};
    return t;
}

TrackDesign jumps()
{
    TrackDesign t;
    t.name = "03-jumps";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(600.0, 0.0).to(900.0, 100.0)
        // first gap, with a way out of the pit for a short jump
        .to(920.0, -150.0).to(1150.0, -150.0).to(1300.0, 90.0).to(1650.0, 0.0).to(2000.0, 0.0)
        .to(2400.0, 180.0)
        // second, wider gap
        .to(2420.0, -150.0).to(2550.0, -150.0).to(2760.0, 140.0).to(3200.0, 0.0).to(3700.0, 0.0)
        .to(3800.0, 60.0).to(4100.0, 60.0).to(4200.0, 0.0).to(4600.0, 0.0).to(4800.0, 400.0)
        .to(4900.0, 400.0);
    t.polygons.push_back(p.solid(-700.0));
    t.start = {0.0, kRideHeight};
    t.apples = {{1450.0, 110.0}, {2580.0, 320.0}};
    t.finish = {4400.0, 40.0};
    t.route = {{600.0, 60.0}, {1100.0, 250.0}, {1450.0, 110.0}, {2000.0, 60.0}, {2580.0, 320.0},
               {3200.0, 60.0}, {3950.0, 120.0}, {4400.0, 40.0}};
    return t;
}

TrackDesign valley()
{
    TrackDesign t;
    t.name = "04-valley";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(400.0, 0.0).ease(1300.0, -650.0, 20).to(1800.0, -650.0)
        // a climb in steps
        .ease(2100.0, -540.0).to(2140.0, -500.0).ease(2400.0, -380.0).to(2440.0, -340.0)
        .ease(2700.0, -200.0).to(2740.0, -160.0).ease(3000.0, 0.0).to(3600.0, 0.0).to(3800.0, 400.0)
        .to(3900.0, 400.0);
    t.polygons.push_back(p.solid(-1300.0));
    t.start = {0.0, kRideHeight};
    t.apples = {{1550.0, -610.0}, {2250.0, -400.0}};
    t.finish = {3350.0, 40.0};
    t.route = {{850.0, -250.0}, {1550.0, -610.0}, {2000.0, -480.0}, {2250.0, -400.0}, {2550.0, -230.0},
               {2850.0, -60.0}, {3350.0, 40.0}};
    return t;
}

TrackDesign cave()
{
    TrackDesign t;
    t.name = "05-cave";
    Profile floor(-900.0, 0.0);
    floor.to(300.0, 0.0).ease(800.0, -150.0).ease(1300.0, 0.0).ease(1700.0, 80.0).ease(2100.0, 0.0)
        .to(2300.0, 0.0).ease(2800.0, 250.0).to(3300.0, 250.0).ease(3900.0, 0.0).to(4900.0, 0.0);
    auto clearance = [](double x) {
        // a low roof over the hump, a tight spot at the top of the rise
        if (x > 1500.0 && x < 1900.0) {
            return 240.0;
        }
        if (x > 2950.0 && x < 3150.0) {
            return 200.0;
        }
        return 290.0;
    };
    addCave(t, floor, clearance, 400.0);
    t.start = {-600.0, kRideHeight};
    t.apples = {{800.0, -110.0}, {3050.0, 390.0}};
    t.finish = {4600.0, 40.0};
    t.route = {{800.0, -110.0}, {1300.0, 40.0}, {1700.0, 120.0}, {2300.0, 40.0}, {2800.0, 290.0},
               {3050.0, 390.0}, {3900.0, 40.0}, {4600.0, 40.0}};
    return t;
}

TrackDesign overhang()
{
    TrackDesign t;
    t.name = "06-overhang";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(1900.0, 0.0).to(2400.0, 250.0).to(3000.0, 250.0)
        .to(3010.0, 100.0).to(3500.0, 0.0).to(4200.0, 0.0).to(4400.0, 400.0).to(4500.0, 400.0);
    t.polygons.push_back(p.solid(-600.0));
    // a rock hanging low over the road
    t.polygons.push_back({{750.0, 250.0}, {1000.0, 215.0}, {1500.0, 220.0}, {1650.0, 300.0},
                          {1700.0, 700.0}, {650.0, 700.0}});
    // the lip over the platform's far end, with an apple tucked beneath it
    t.polygons.push_back({{2650.0, 470.0}, {3150.0, 450.0}, {3150.0, 650.0}, {2700.0, 600.0}});
    t.start = {0.0, kRideHeight};
    t.apples = {{1200.0, 40.0}, {2900.0, 290.0}};
    t.finish = {3900.0, 40.0};
    t.route = {{1200.0, 40.0}, {1900.0, 40.0}, {2400.0, 290.0}, {2900.0, 290.0}, {3500.0, 40.0},
               {3900.0, 40.0}};
    return t;
}

TrackDesign deepTunnel()
{
    TrackDesign t;
    t.name = "07-deep-tunnel";
    Profile floor(-900.0, 600.0);
    floor.to(0.0, 600.0).ease(1200.0, 0.0, 20).ease(1600.0, -120.0).ease(2000.0, 0.0).to(2700.0, 0.0)
        .ease(3300.0, 300.0, 16).to(3700.0, 300.0).ease(4100.0, 200.0).to(4600.0, 200.0);
    auto clearance = [](double x) {
        if (x < 0.0) {
            return 300.0;
        }
        if (x > 2000.0 && x < 2700.0) {
            return 600.0;   // a chamber with a floating rock in it
        }
        return 300.0;
    };
    addCave(t, floor, clearance, 400.0);
    // the floating rock: a polygon inside the hole, so solid again
    t.polygons.push_back({{2200.0, 260.0}, {2500.0, 250.0}, {2550.0, 450.0}, {2150.0, 460.0}});
    t.start = {-600.0, 600.0 + kRideHeight};
    t.apples = {{1600.0, -80.0}, {2350.0, 40.0}, {3500.0, 340.0}};
    t.finish = {4400.0, 240.0};
    t.route = {{600.0, 350.0}, {1200.0, 40.0}, {1600.0, -80.0}, {2000.0, 40.0}, {2350.0, 40.0},
               {2700.0, 40.0}, {3300.0, 340.0}, {3500.0, 340.0}, {4100.0, 240.0}, {4400.0, 240.0}};
    return t;
}

TrackDesign summit()
{
    TrackDesign t;
    t.name = "08-summit";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(200.0, 0.0).to(700.0, 300.0).to(900.0, 300.0)
        .to(900.0, 350.0).to(1100.0, 350.0).to(1600.0, 700.0).to(1850.0, 700.0)
        // a gap to jump
        .to(1860.0, 350.0).to(2100.0, 350.0).to(2110.0, 680.0).to(2500.0, 680.0)
        .ease(2700.0, 760.0).ease(2900.0, 680.0).to(3000.0, 680.0).to(3550.0, 1080.0)
        .to(4000.0, 1080.0).to(4100.0, 1400.0).to(4200.0, 1400.0);
    t.polygons.push_back(p.solid(-600.0));
    t.start = {0.0, kRideHeight};
    t.apples = {{800.0, 340.0}, {2700.0, 900.0}};
    t.finish = {3800.0, 1120.0};
    t.route = {{450.0, 200.0}, {800.0, 340.0}, {1100.0, 400.0}, {1600.0, 750.0}, {2300.0, 720.0},
               {2700.0, 900.0}, {3000.0, 720.0}, {3550.0, 1120.0}, {3800.0, 1120.0}};
    return t;
}

TrackDesign switchback()
{
    TrackDesign t;
    t.name = "09-switchback";
    Profile p(-1900.0, 900.0);
    p.to(-1800.0, 900.0).to(-1800.0, 200.0).to(-1200.0, 200.0).to(-700.0, 0.0).to(600.0, 0.0)
        .to(1000.0, 300.0).to(1500.0, 300.0).to(1500.0, 900.0).to(1600.0, 900.0);
    t.polygons.push_back(p.solid(-600.0));
    t.start = {0.0, kRideHeight};
    // the apple waits in the dead end on the right; the finish is back left
    t.apples = {{1420.0, 340.0}};
    t.finish = {-1550.0, 240.0};
    t.route = {{700.0, 100.0}, {1100.0, 370.0}, {1420.0, 370.0}, {1100.0, 370.0}, {600.0, 70.0},
               {-700.0, 70.0}, {-1200.0, 270.0}, {-1550.0, 240.0}};
    return t;
}

Cpolygons* buildList(const TrackDesign& design)
{
    Cpolygons* head = nullptr;
    Cpolygons* tail = nullptr;
    for (const auto& outline : design.polygons) {
        auto* node = new Cpolygons;
        node->polygon = new Cpolygon;
        // Appended at a kept tail: addVertex walks the chain every time.
        Cvertex* last = nullptr;
        for (const Point& v : outline) {
            auto* vertex = new Cvertex(v.x, v.y);
            if (last == nullptr) {
                node->polygon->first = vertex;
            } else {
                last->next = vertex;
            }
            last = vertex;
            node->polygon->count = node->polygon->count + 1;
        }
        if (tail == nullptr) {
            head = node;
        } else {
            tail->next = node;
            node->prev = tail;
        }
        tail = node;
    }
    return head;
}

Capples* buildApples(const TrackDesign& design)
{
    Capples* head = nullptr;
    Capples* tail = nullptr;
    for (const Point& a : design.apples) {
        auto* apple = new Capples(a.x, a.y);
        if (tail == nullptr) {
            head = apple;
        } else {
            tail->next = apple;
            apple->prev = tail;
        }
        tail = apple;
    }
    return head;
}

bool insideWorld(const Point& p)
{
    return p.x >= kWorldLeft && p.x <= kWorldRight && p.y >= kWorldBottom && p.y <= kWorldTop;
}

} // namespace

std::vector<TrackDesign> trackPack()
{
    return {firstRide(), rollingHills(), jumps(), valley(), cave(), overhang(), deepTunnel(), summit(), switchback()};
}

bool writeDesign(const TrackDesign& design, const std::string& path, double bestTime)
{
    std::unique_ptr<Cpolygons> polygons(buildList(design));
    std::unique_ptr<Capples> apples(buildApples(design));
    const Cvector start(design.start.x, design.start.y);
    const Cvector finish(design.finish.x, design.finish.y);
    return writeTrack(path, bestTime, start, finish, static_cast<int32_t>(design.polygons.size()),
                      polygons.get(), static_cast<int32_t>(design.apples.size()), apples.get());
}

std::vector<std::string> checkDesign(const TrackDesign& design)
{
    std::vector<std::string> problems;
    std::unique_ptr<Cpolygons> polygons(buildList(design));
    Cmoto bike(0.0, 0.0);
    bike.setPosition(design.start.x, design.start.y);
    if (bike.touchesPolygons(polygons.get())) {
        problems.push_back("the bike at the start touches the ground");
    }
    if (bike.head->outsideRect(kWorldLeft, kWorldRight, kWorldBottom, kWorldTop)) {
        problems.push_back("the bike at the start is outside the world");
    }
    for (const auto& outline : design.polygons) {
        if (outline.size() < 3) {
            problems.push_back("a polygon has fewer than three vertices");
        }
        for (const Point& v : outline) {
            if (!insideWorld(v)) {
                problems.push_back("a vertex lies outside the world");
            }
        }
    }
    for (const Point& a : design.apples) {
        if (!insideWorld(a)) {
            problems.push_back("an apple lies outside the world");
        }
    }
    if (!insideWorld(design.finish)) {
        problems.push_back("the finish lies outside the world");
    }
    return problems;
}
