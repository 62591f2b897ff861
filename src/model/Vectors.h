// Cvector: the one 2-D vector type of the model and the physics.
//
// x grows to the right, y upwards, in world units. Angles are in degrees,
// counter-clockwise positive. Every operation works in place on doubles, in
// a fixed order of arithmetic and with the core's own sine, cosine and arc
// tangent, because the physics must replay bit for bit on every machine.
// None of them allocates.
#pragma once

#include "model/ArcTangent.h"
#include "model/SinCos.h"
#include "model/SquareRoot.h"

#include <cmath>

inline constexpr double kPi = 3.14159265358979323846;

class Cvector {
public:
    double x = 0.0;
    double y = 0.0;

    Cvector() = default;
    Cvector(double ax, double ay) : x(ax), y(ay) {}
    Cvector(const Cvector&) = default;            // createCopy
    Cvector& operator=(const Cvector&) = default;

    void setXY(double ax, double ay) { x = ax; y = ay; }
    void assign(const Cvector& v) { x = v.x; y = v.y; }

    void add(const Cvector& v) { x = x + v.x; y = y + v.y; }
    void addXY(double dx, double dy) { x = x + dx; y = y + dy; }
    void subtract(const Cvector& v) { x = x - v.x; y = y - v.y; }
    void scale(double k) { x = x * k; y = y * k; }
    // A zero vector is left unchanged (no division by zero).
    void normalize()
    {
        const double len = length();
        if (len == 0.0) {
            return;
        }
        x = x / len;
        y = y / len;
    }
    // (x, y) becomes (y, -x): a clockwise quarter turn.
    void makePerpendicular() { const double ox = x; x = y; y = -ox; }
    // This becomes (v.y, -v.x); v is unchanged.
    void setPerpendicularOf(const Cvector& v) { const double vx = v.x; x = v.y; y = -vx; }
    // Counter-clockwise rotation by deg degrees.
    void rotate(double deg)
    {
        const double x0 = x;
        const double y0 = y;
        const double t = kPi * deg / 180.0;
        double s = 0.0;
        double c = 0.0;
        vmath::sinCos(t, s, c);
        x = c * x0 - s * y0;
        y = x0 * s + c * y0;
    }

    double dot(const Cvector& v) const { return x * v.x + y * v.y; }
    double length() const { return vmath::sqrt(x * x + y * y); }
    // The counter-clockwise turn in degrees that takes (0, 1) into this
    // direction: (1, 0) gives -90, (0, -1) gives 180, the zero vector 0.
    double angle() const
    {
        if (x == 0.0) {
            return y < 0.0 ? 180.0 : 0.0;
        }
        return -vmath::arcTangent2(x, y) * 180.0 / kPi;
    }
};

// Length of b - a; neither argument changes.
inline double distance(const Cvector& a, const Cvector& b)
{
    Cvector d(b);
    d.subtract(a);
    return d.length();
}
