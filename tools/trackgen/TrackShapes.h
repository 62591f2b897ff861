// Building blocks of the pack's track designs: ground outlines drawn from
// left to right, boxes, and caves cut out of solid rock. Units are world
// units, y up; every shape is a list of points for TrackDesign::polygons.
#pragma once

#include "Tracks.h"

#include <functional>
#include <vector>

inline constexpr double kPi = 3.14159265358979323846;

// Height of the bike's frame above flat ground when its wheels just rest on
// it (wheel centre 113/3 below the frame, radius 80/3), plus a little air.
inline constexpr double kRideHeight = 70.0;

// A ground outline built from left to right.
class Profile {
public:
    Profile(double x, double y) { points.push_back({x, y}); }

    // A straight edge to (x, y).
    Profile& to(double x, double y);
    // Eased from the last point to (x, y): flat at both ends.
    Profile& ease(double x, double y, int samples = 12);
    // Sine hills on the current level up to x: `waves` whole waves, heights
    // from 0 to `height` above the level.
    Profile& hills(double x, double height, int waves, int samplesPerWave = 16);
    // A smooth bend from the last point to (x, y), pulled towards the
    // control point (cx, cy) (a quadratic curve), in `samples` edges.
    Profile& curve(double cx, double cy, double x, double y, int samples = 12);

    double lastX() const { return points.back().x; }
    double lastY() const { return points.back().y; }

    // Closed polygon: the outline, then down to `bottom` and back.
    std::vector<Point> solid(double bottom) const;
    const std::vector<Point>& outline() const { return points; }

private:
    std::vector<Point> points;
};

// An axis-aligned box, counter-clockwise.
std::vector<Point> box(double left, double bottom, double right, double top);

// A rock: a rounded blob of `samples` points around (x, y), half width `rx`,
// half height `ry`.
std::vector<Point> rock(double x, double y, double rx, double ry, int samples = 16);

// Height of an outline at x (linear between its points).
double heightAt(const std::vector<Point>& outline, double x);

// A cave: a solid block with the passage cut out of it as a hole. The
// passage is the floor outline and, above it, a roof `clearance(x)` higher,
// sampled every 25 units. The block reaches `margin` beyond the passage.
void addCave(TrackDesign& track, const Profile& floor, const std::function<double(double)>& clearance,
             double margin);
