#include "TrackShapes.h"

#include "model/SinCos.h"

#include <algorithm>
#include <cmath>

Profile& Profile::to(double x, double y)
{
    points.push_back({x, y});
    return *this;
}

Profile& Profile::ease(double x, double y, int samples)
{
    const Point a = points.back();
    for (int i = 1; i <= samples; ++i) {
        const double t = static_cast<double>(i) / samples;
        const double s = t * t * (3.0 - 2.0 * t);
        points.push_back({a.x + (x - a.x) * t, a.y + (y - a.y) * s});
    }
    return *this;
}

Profile& Profile::hills(double x, double height, int waves, int samplesPerWave)
{
    const Point a = points.back();
    const int n = waves * samplesPerWave;
    for (int i = 1; i <= n; ++i) {
        const double t = static_cast<double>(i) / n;
        const double phase = t * waves * 2.0 * kPi;
        points.push_back({a.x + (x - a.x) * t, a.y + height * (1.0 - vmath::cosine(phase)) / 2.0});
    }
    return *this;
}

Profile& Profile::curve(double cx, double cy, double x, double y, int samples)
{
    const Point a = points.back();
    for (int i = 1; i <= samples; ++i) {
        const double t = static_cast<double>(i) / samples;
        const double u = 1.0 - t;
        points.push_back({u * u * a.x + 2.0 * u * t * cx + t * t * x, u * u * a.y + 2.0 * u * t * cy + t * t * y});
    }
    return *this;
}

std::vector<Point> Profile::solid(double bottom) const
{
    std::vector<Point> polygon = points;
    polygon.push_back({points.back().x, bottom});
    polygon.push_back({points.front().x, bottom});
    return polygon;
}

std::vector<Point> box(double left, double bottom, double right, double top)
{
    return {{left, bottom}, {right, bottom}, {right, top}, {left, top}};
}

std::vector<Point> rock(double x, double y, double rx, double ry, int samples)
{
    std::vector<Point> outline;
    for (int i = 0; i < samples; ++i) {
        const double a = 2.0 * kPi * i / samples;
        // A little unevenness, the same for every build.
        const double wobble = 1.0 + 0.08 * vmath::sine(3.0 * a + 1.0);
        outline.push_back({x + rx * wobble * vmath::cosine(a), y + ry * wobble * vmath::sine(a)});
    }
    return outline;
}

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

void addCave(TrackDesign& track, const Profile& floor, const std::function<double(double)>& clearance,
             double margin)
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
