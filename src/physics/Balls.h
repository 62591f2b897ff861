// Cball: a disc that moves and turns (wheels, head, finish, and the bike's
// frame), its overlap tests, and its contacts with the ground polygons.
//
// Units: positions in world units, velocities in units per second, angles in
// degrees (counter-clockwise positive), angular velocities in degrees per
// second. A contact is resolved against every edge and vertex from either
// side; the response removes almost all of the velocity into the surface and
// makes the ball roll without sliding.
#pragma once

#include "model/Polygon.h"
#include "model/Vectors.h"

inline constexpr double kWheelRadius = 80.0 / 3.0;
inline constexpr double kHeadRadius = 46.0 / 3.0;

class Cball {
public:
    Cvector velocity;
    Cvector position;
    double radius = 0.0;
    double angle = 0.0;
    double angularVelocity = 0.0;

    Cball() = default;
    Cball(double vx, double vy, double x, double y, double aRadius, double anAngle,
          double anAngularVelocity);
    explicit Cball(double aRadius) : radius(aRadius) {}   // createWithRadius
    Cball(const Cball&) = default;                        // createCopy
    Cball& operator=(const Cball&) = default;
    void assign(const Cball& b) { *this = b; }

    // distance(position, b.position) < radius + b.radius.
    bool touches(const Cball& b) const;
    // The disc is not wholly inside the rectangle (touching a side is inside).
    bool outsideRect(double left, double right, double bottom, double top) const;

    // Contacts with the ground. With testOnly they only detect and touch no
    // shared state; otherwise they choose a contact and compute its response
    // into contactBacktrack / contactVelocity / contactAngularVelocity. They
    // never change the ball itself.
    bool collidePolygons(const Cpolygons* list, bool testOnly) const;
    bool collidePolygon(const Cpolygon* polygon, bool testOnly) const;
    bool edgeOutOfReach(const Cvector& a, const Cvector& b) const;
    bool edgeInReach(const Cvector& a, const Cvector& b) const;
    int collideCorner(const Cvector& corner, const Cvector& other) const;
    bool collideEdge(const Cvector& a, const Cvector& b) const;

    // Draws the ball with the bound texture; defined in gfx.
    void drawBall() const;
};

// Contact state of one resolution pass (physics thread only). The step sets
// contactBacktrack to 0 before each pass and points contactVelocity at a
// vector it owns for the duration of the step.
extern double contactBacktrack;
extern Cvector* contactVelocity;
extern double contactAngularVelocity;
