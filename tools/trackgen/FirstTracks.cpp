// Tracks 01 to 12 of the pack: from a first ride to medium, each built
// around one idea of its own.
#include "TrackShapes.h"

#include "model/SinCos.h"

#include <algorithm>
#include <cmath>

namespace {

// A first ride: flat ground, three gentle bumps, apples on the way.
TrackDesign firstRide()
{
    TrackDesign t;
    t.name = "02-first-ride";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(500.0, 0.0).ease(800.0, 40.0).ease(1100.0, 0.0)
        .to(1900.0, 0.0).ease(2200.0, 30.0).ease(2500.0, 0.0).to(3000.0, 0.0).ease(3400.0, 60.0)
        .ease(3800.0, 0.0).to(4600.0, 0.0).to(4800.0, 400.0).to(4900.0, 400.0);
    t.polygons.push_back(p.solid(-600.0));
    t.start = {0.0, kRideHeight};
    t.apples = {{900.0, 80.0}, {1700.0, 40.0}, {3400.0, 110.0}};
    t.finish = {4300.0, 40.0};
    t.route = {{900.0, 80.0}, {1700.0, 40.0}, {3400.0, 110.0}, {4300.0, 40.0}};
    return t;
}

// A valley: a long eased descent, then a climb in short ramps.
TrackDesign valley()
{
    TrackDesign t;
    t.name = "03-valley";
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

// Stairs up, a landing, and stairs down: each riser a short steep ramp.
TrackDesign stairs()
{
    TrackDesign t;
    t.name = "04-stairs";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(600.0, 0.0);
    double x = 600.0;
    double y = 0.0;
    for (int i = 0; i < 7; ++i) {
        y += 30.0;
        p.to(x + 70.0, y).to(x + 330.0, y);
        x += 330.0;
    }
    p.to(x + 500.0, y);
    x += 500.0;
    const double landing = y;
    for (int i = 0; i < 7; ++i) {
        y -= 30.0;
        p.to(x + 40.0, y).to(x + 300.0, y);
        x += 300.0;
    }
    p.to(x + 900.0, y).to(x + 1100.0, y + 400.0).to(x + 1200.0, y + 400.0);
    t.polygons.push_back(p.solid(-600.0));
    t.start = {0.0, kRideHeight};
    t.apples = {{600.0 + 3.5 * 330.0, 4 * 30.0 + 40.0}, {600.0 + 7 * 330.0 + 250.0, landing + 40.0},
                {x - 4 * 300.0 + 150.0, 3 * 30.0 + 40.0}};
    t.finish = {x + 600.0, y + 40.0};
    t.route = {t.apples[0], t.apples[1], t.apples[2], t.finish};
    return t;
}

// A flat rock floating at road height, its underside rounded: the top from
// (left, top) to (right, top), `depth` deep in the middle.
std::vector<Point> floatingSlab(double left, double right, double top, double depth)
{
    std::vector<Point> outline;
    const int samples = 16;
    for (int i = 0; i <= samples; ++i) {
        const double a = kPi * i / samples;
        outline.push_back({(left + right) / 2.0 + (right - left) / 2.0 * vmath::cosine(a), top - depth * vmath::sine(a)});
    }
    std::reverse(outline.begin(), outline.end());
    return outline;
}

// Stepping stones: rocks floating across a chasm, apples above them. A
// rider who falls climbs out at the far end.
TrackDesign steppingStones()
{
    TrackDesign t;
    t.name = "01-stepping-stones";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(880.0, 0.0).ease(1000.0, -500.0, 8).to(4200.0, -500.0)
        .ease(5200.0, -80.0, 16).ease(5500.0, 0.0, 8).to(6300.0, 0.0).to(6500.0, 400.0).to(6600.0, 400.0);
    t.polygons.push_back(p.solid(-1100.0));
    const double stones[][3] = {{1000.0, 1500.0, 0.0}, {1620.0, 2120.0, 0.0}, {2240.0, 2740.0, 0.0},
                                {2860.0, 3360.0, 0.0}, {3480.0, 3980.0, 0.0}, {4100.0, 4600.0, 0.0}};
    // Falling in is no end: the chasm's floor leads up to the far side.
    for (const auto& s : stones) {
        t.polygons.push_back(floatingSlab(s[0], s[1], s[2], 160.0));
    }
    t.start = {0.0, kRideHeight};
    t.apples = {{1870.0, 40.0}, {3110.0, 40.0}, {4350.0, 40.0}};
    t.finish = {5900.0, 40.0};
    t.route = {{1250.0, 40.0}, {1870.0, 40.0}, {2490.0, 40.0}, {3110.0, 40.0}, {3730.0, 40.0}, {4350.0, 40.0},
               {5900.0, 40.0}};
    return t;
}

// A slalom over and under: ramps lift the rider onto rocks, and low rocks
// make the rider duck back to the road.
TrackDesign slalom()
{
    TrackDesign t;
    t.name = "09-slalom";
    Profile p(-2900.0, 500.0);
    p.to(-2800.0, 500.0).to(-2700.0, 0.0).to(-1500.0, 0.0);
    double x = -1500.0;
    for (int i = 0; i < 4; ++i) {
        // a ramp up onto a floating rock, then under the next one
        p.ease(x + 400.0, 120.0, 10).to(x + 500.0, 120.0).ease(x + 700.0, 0.0, 10).to(x + 1700.0, 0.0);
        t.polygons.push_back(floatingSlab(x + 580.0, x + 1050.0, 120.0, 90.0));
        t.polygons.push_back(rock(x + 1400.0, 320.0, 180.0, 70.0));
        t.apples.push_back({x + 850.0, 160.0});
        t.apples.push_back({x + 1400.0, 40.0});
        t.route.push_back({x + 450.0, 190.0});
        t.route.push_back({x + 850.0, 190.0});
        t.route.push_back({x + 1400.0, 70.0});
        x += 1700.0;
    }
    p.to(x + 800.0, 0.0).to(x + 1000.0, 400.0).to(x + 1100.0, 400.0);
    t.polygons.insert(t.polygons.begin(), p.solid(-600.0));
    t.start = {-2000.0, kRideHeight};
    t.finish = {x + 500.0, 40.0};
    t.route.push_back(t.finish);
    return t;
}

// Overhangs: a rock hanging low over the road and a lip over a platform,
// an apple tucked beneath it.
TrackDesign overhang()
{
    TrackDesign t;
    t.name = "07-overhang";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(1800.0, 0.0).ease(2400.0, 250.0, 12).to(3000.0, 250.0)
        .ease(3600.0, 0.0, 12).to(4200.0, 0.0).to(4400.0, 400.0).to(4500.0, 400.0);
    t.polygons.push_back(p.solid(-600.0));
    // a rock hanging low over the road
    t.polygons.push_back({{750.0, 280.0}, {1000.0, 250.0}, {1500.0, 255.0}, {1650.0, 330.0},
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

// Jumps: two pits to clear from a ramp, each with a landing slope; a short
// jump leaves a way out of the pit.
TrackDesign jumps()
{
    TrackDesign t;
    t.name = "08-jumps";
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

// A deep tunnel: down into the ground, through a chamber with a rock
// floating in it, and down again.
TrackDesign deepTunnel()
{
    TrackDesign t;
    t.name = "11-deep-tunnel";
    Profile floor(-900.0, 600.0);
    floor.to(0.0, 600.0).ease(1200.0, 0.0, 20).ease(1600.0, -120.0).ease(2000.0, 0.0).to(2700.0, 0.0)
        .ease(3300.0, 300.0, 16).to(3700.0, 300.0).ease(4100.0, 200.0).to(4600.0, 200.0)
        .ease(5400.0, -200.0, 16).to(6000.0, -200.0).ease(6800.0, 100.0, 16).to(7400.0, 100.0);
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
    t.apples = {{1600.0, -80.0}, {2350.0, 40.0}, {3500.0, 340.0}, {5700.0, -160.0}};
    t.finish = {7100.0, 140.0};
    t.route = {{600.0, 350.0}, {1200.0, 40.0}, {1600.0, -80.0}, {2000.0, 40.0}, {2350.0, 40.0},
               {2700.0, 40.0}, {3300.0, 340.0}, {3500.0, 340.0}, {4100.0, 240.0}, {4600.0, 240.0},
               {5400.0, -160.0}, {5700.0, -160.0}, {6300.0, -160.0}, {6800.0, 140.0}, {7100.0, 140.0}};
    return t;
}

// A cave: a closed passage whose low roofs over humps and a notch at the top
// of a rise punish a wheelie.
TrackDesign cave()
{
    TrackDesign t;
    t.name = "10-cave";
    Profile floor(-4400.0, 0.0);
    floor.to(-3300.0, 0.0).ease(-2800.0, -120.0).ease(-2300.0, 0.0).to(-1900.0, 0.0).ease(-1400.0, 100.0)
        .ease(-900.0, 0.0).to(300.0, 0.0).ease(800.0, -150.0).ease(1300.0, 0.0).ease(1700.0, 80.0).ease(2100.0, 0.0)
        .to(2300.0, 0.0).ease(2800.0, 250.0).to(3300.0, 250.0).ease(3900.0, 0.0).to(4900.0, 0.0);
    auto clearance = [](double x) {
        // low roofs over the humps, a tight spot at the top of the rise
        if ((x > 1500.0 && x < 1900.0) || (x > -1600.0 && x < -1200.0)) {
            return 240.0;
        }
        if (x > 2950.0 && x < 3150.0) {
            return 200.0;
        }
        return 290.0;
    };
    addCave(t, floor, clearance, 400.0);
    t.start = {-4100.0, kRideHeight};
    t.apples = {{-2800.0, -80.0}, {800.0, -110.0}, {3050.0, 390.0}};
    t.finish = {4600.0, 40.0};
    t.route = {{-2800.0, -80.0}, {-2300.0, 40.0}, {-1400.0, 140.0}, {-900.0, 40.0}, {800.0, -110.0},
               {1300.0, 40.0}, {1700.0, 120.0}, {2300.0, 40.0}, {2800.0, 290.0}, {3050.0, 390.0},
               {3900.0, 40.0}, {4600.0, 40.0}};
    return t;
}

// A switchback: the first apple waits in a dead end on the right; turn
// around (Space) and ride back left, over low hills, to the finish.
TrackDesign switchback()
{
    TrackDesign t;
    t.name = "12-switchback";
    Profile p(-6900.0, 900.0);
    p.to(-6800.0, 900.0).to(-6800.0, 200.0).to(-6200.0, 200.0).to(-5700.0, 0.0).to(-5000.0, 0.0)
        .hills(-2000.0, 70.0, 3).to(600.0, 0.0).to(1000.0, 300.0).to(1500.0, 300.0).to(1500.0, 900.0)
        .to(1600.0, 900.0);
    t.polygons.push_back(p.solid(-600.0));
    t.start = {0.0, kRideHeight};
    // the first apple waits in the dead end on the right; the rest are back left
    t.apples = {{1420.0, 340.0}, {-3500.0, 150.0}};
    t.finish = {-6550.0, 240.0};
    t.route = {{700.0, 100.0}, {1100.0, 370.0}, {1420.0, 370.0}, {1100.0, 370.0}, {600.0, 70.0},
               {-700.0, 70.0}, {-2000.0, 70.0}, {-2500.0, 140.0}, {-3500.0, 140.0}, {-4500.0, 140.0},
               {-5000.0, 70.0}, {-5700.0, 70.0}, {-6200.0, 270.0}, {-6550.0, 240.0}};
    return t;
}

// Rolling hills: long smooth climbs and descents, growing taller.
TrackDesign rollingHills()
{
    TrackDesign t;
    t.name = "13-rolling-hills";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(300.0, 0.0).hills(1700.0, 90.0, 2).hills(3500.0, 160.0, 2)
        .to(3800.0, 0.0).hills(6200.0, 240.0, 2, 24).to(7000.0, 0.0).to(7200.0, 400.0).to(7300.0, 400.0);
    t.polygons.push_back(p.solid(-600.0));
    t.start = {0.0, kRideHeight};
    t.apples = {{650.0, 140.0}, {1700.0, 40.0}, {2150.0, 210.0}, {3050.0, 210.0}, {4400.0, 290.0},
                {5600.0, 290.0}};
    t.finish = {6700.0, 40.0};
    t.route = {{650.0, 140.0}, {1350.0, 140.0}, {1700.0, 40.0}, {2150.0, 210.0}, {2600.0, 40.0},
               {3050.0, 210.0}, {3650.0, 40.0}, {4400.0, 290.0}, {5000.0, 40.0}, {5600.0, 290.0},
               {6200.0, 40.0}, {6700.0, 40.0}};
    return t;
}

// A summit: a long climb by ramps and ledges, with a gap to jump on the way.
TrackDesign summit()
{
    TrackDesign t;
    t.name = "14-summit";
    Profile p(-900.0, 500.0);
    p.to(-800.0, 500.0).to(-700.0, 0.0).to(200.0, 0.0).to(700.0, 300.0).to(900.0, 300.0)
        .to(900.0, 350.0).to(1100.0, 350.0).to(1600.0, 700.0).to(1850.0, 700.0)
        // a gap to jump
        .to(1860.0, 350.0).to(2100.0, 350.0).to(2110.0, 680.0).to(2500.0, 680.0)
        .ease(2700.0, 760.0).ease(2900.0, 680.0).to(3000.0, 680.0).to(3550.0, 1080.0)
        .to(4000.0, 1080.0).ease(4600.0, 1300.0).to(5000.0, 1300.0).to(5500.0, 1650.0).to(5900.0, 1650.0)
        .to(5900.0, 1700.0).to(6100.0, 1700.0).to(6600.0, 2000.0).to(7300.0, 2000.0).to(7500.0, 2400.0)
        .to(7600.0, 2400.0);
    t.polygons.push_back(p.solid(-600.0));
    t.start = {0.0, kRideHeight};
    t.apples = {{800.0, 340.0}, {2700.0, 900.0}, {5700.0, 1690.0}};
    t.finish = {7000.0, 2040.0};
    t.route = {{450.0, 200.0}, {800.0, 340.0}, {1100.0, 400.0}, {1600.0, 750.0}, {2300.0, 720.0},
               {2700.0, 900.0}, {3000.0, 720.0}, {3550.0, 1120.0}, {4000.0, 1120.0}, {4600.0, 1340.0},
               {5000.0, 1340.0}, {5500.0, 1690.0}, {5700.0, 1690.0}, {6100.0, 1740.0}, {6600.0, 2040.0},
               {7000.0, 2040.0}};
    return t;
}

} // namespace

std::vector<TrackDesign> firstTracks()
{
    return {firstRide(), valley(), stairs(), steppingStones(), slalom(), overhang(), jumps(), deepTunnel(),
            cave(), switchback(), rollingHills(), summit()};
}
