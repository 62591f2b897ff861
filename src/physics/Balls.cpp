#include "physics/Balls.h"

#include "model/SquareRoot.h"

#include <cmath>

double contactBacktrack = 0.0;
Cvector* contactVelocity = nullptr;
double contactAngularVelocity = 0.0;

namespace {

// The value of pi that the contact arithmetic uses.
constexpr double kContactPi = 3.14159265358979324;
// A contact may have begun at most this long ago (one step plus a margin).
constexpr double kContactWindow = 0.01001;
constexpr double kRestitution = 1.001;

// Response of a ball with velocity v, angular velocity omega and radius r to
// a contact whose unit normal n points from the surface to the centre: the
// normal speed is almost removed and the contact point stops sliding.
void respond(const Cvector& n, const Cvector& v, double omega, double r)
{
    Cvector tangent;
    tangent.setPerpendicularOf(n);
    const double vn = n.dot(v);
    const double vt = tangent.dot(v);
    const double s = omega * kContactPi * r / 180.0;

    Cvector result(v);
    Cvector part(n);
    part.scale(kRestitution * vn);
    result.subtract(part);
    part = tangent;
    part.scale((s + vt) * 0.5);
    result.subtract(part);
    if (contactVelocity != nullptr) {
        contactVelocity->assign(result);
    }
    contactAngularVelocity = (s - vt) * 0.5 * 180.0 / (kContactPi * r);
}

}  // namespace

Cball::Cball(double vx, double vy, double x, double y, double aRadius, double anAngle,
             double anAngularVelocity)
    : velocity(vx, vy), position(x, y), radius(aRadius), angle(anAngle),
      angularVelocity(anAngularVelocity)
{
}

bool Cball::touches(const Cball& b) const
{
    return distance(position, b.position) < radius + b.radius;
}

bool Cball::outsideRect(double left, double right, double bottom, double top) const
{
    return position.x - radius < left || position.x + radius > right ||
           position.y - radius < bottom || position.y + radius > top;
}

bool Cball::collidePolygons(const Cpolygons* list, bool testOnly) const
{
    bool result = false;
    for (const Cpolygons* node = list; node != nullptr && node->polygon != nullptr;
         node = node->next) {
        const bool hit = collidePolygon(node->polygon, testOnly);
        result = result || hit;
    }
    return result;
}

bool Cball::collidePolygon(const Cpolygon* polygon, bool testOnly) const
{
    if (polygon == nullptr || polygon->first == nullptr) {
        return false;
    }
    bool result = false;
    const Cvertex* a = polygon->first;
    while (a != nullptr) {
        // The closing edge runs from the last vertex back to the first.
        const Cvertex* b = a->next != nullptr ? a->next : polygon->first;
        const bool near = !edgeOutOfReach(*a, *b) && edgeInReach(*a, *b);
        bool hit = near;
        if (near && !testOnly) {
            hit = collideEdge(*a, *b);
        }
        result = result || hit;
        if (testOnly && result) {
            return true;
        }
        a = a->next;
    }
    return result;
}

bool Cball::edgeOutOfReach(const Cvector& a, const Cvector& b) const
{
    const double right = position.x + radius;
    const double left = position.x - radius;
    const double top = position.y + radius;
    const double bottom = position.y - radius;
    return (a.x > right && b.x > right) || (a.x < left && b.x < left) ||
           (a.y > top && b.y > top) || (a.y < bottom && b.y < bottom);
}

bool Cball::edgeInReach(const Cvector& a, const Cvector& b) const
{
    if (distance(position, a) < radius || distance(position, b) < radius) {
        return true;
    }
    Cvector e(b);
    e.subtract(a);
    const double len = e.length();
    if (len == 0.0) {
        return false;   // a point edge is covered by the end-point test above
    }
    e.scale(1.0 / len);
    Cvector w(position);
    w.subtract(a);
    const double t = e.dot(w);
    if (t < 0.0 || t > len) {
        return false;
    }
    Cvector f(e);
    f.scale(t);
    f.subtract(w);
    return radius - f.length() > 0.0;
}

int Cball::collideCorner(const Cvector& corner, const Cvector& other) const
{
    const double speed = velocity.length();
    if (speed == 0.0) {
        return 0;   // a ball at rest has no path to trace back along
    }
    Cvector e(other);
    e.subtract(corner);
    e.normalize();
    Cvector u(velocity);
    u.normalize();
    Cvector w(position);
    w.subtract(corner);
    const double dist = w.length();
    const double p = w.dot(u);

    const double disc = radius * radius - (dist * dist - p * p);
    if (disc < 0.0) {
        return 0;
    }
    const double t = vmath::sqrt(disc) + p;
    if (t <= 0.0) {
        return 0;
    }
    Cvector g(position);
    Cvector back(u);
    back.scale(t);
    g.subtract(back);
    g.subtract(corner);
    if (g.dot(e) >= 0.0) {
        return 0;
    }
    if (t / speed > kContactWindow) {
        return -1;
    }
    if (t > contactBacktrack) {
        contactBacktrack = t;
        Cvector n(g);
        n.normalize();
        respond(n, velocity, angularVelocity, radius);
    }
    return 1;
}

bool Cball::collideEdge(const Cvector& a, const Cvector& b) const
{
    const int ra = collideCorner(a, b);
    const int rb = collideCorner(b, a);
    if (ra != 0 || rb != 0) {
        return ra != -1 && rb != -1;
    }

    Cvector e(b);
    e.subtract(a);
    e.normalize();
    Cvector w(position);
    w.subtract(a);
    Cvector f(e);
    f.scale(e.dot(w));
    f.subtract(w);
    const double flen = f.length();
    const double pen = radius - flen;
    if (flen == 0.0) {
        return false;   // centre on the line: no direction into the surface
    }
    Cvector m(f);
    m.x = m.x / flen;
    m.y = m.y / flen;
    const double approach = m.dot(velocity);
    if (approach == 0.0) {
        return false;   // at rest or moving along the edge: nothing to trace back
    }
    const double time = pen / approach;
    if (time > kContactWindow) {
        return false;
    }
    const double d = velocity.length() * time;
    if (d > contactBacktrack) {
        contactBacktrack = d;
        Cvector n(m);
        n.scale(-1.0);
        respond(n, velocity, angularVelocity, radius);
    }
    return true;
}
