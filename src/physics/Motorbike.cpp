#include "physics/Motorbike.h"

#include "physics/World.h"

#include "model/Logarithm.h"

#include <cmath>

std::atomic<int32_t> facing{1};

namespace {

// Frame geometry in frame coordinates, for a bike facing right; x offsets
// are multiplied by `facing`.
constexpr double kFrontRestX = 221.0 / 3.0;
constexpr double kRearRestX = -64.0;
constexpr double kWheelRestY = -113.0 / 3.0;
constexpr double kFrontAnchorX = 43.0;
constexpr double kFrontAnchorY = 16.0;
constexpr double kRearAnchorX = -28.0 / 3.0;
constexpr double kRearAnchorY = -53.0 / 3.0;
constexpr double kHeadX = -2.0;
constexpr double kHeadY = 233.0 / 3.0;

constexpr double kGravityPerStep = 2.0;
constexpr double kAxialStiffness = 5000.0;
constexpr double kSideStiffness = 10000.0;
constexpr double kStep = 0.01;
constexpr double kDamping = 0.3;
constexpr double kSpeedLimit = 8000.0 / 3.0;
constexpr double kPhysicsPi = 3.14159265358979324;
// Written out rather than computed: kPhysicsPi / 18000 rounds one bit lower.
constexpr double kPiOver18000 = 0.00017453292519943296;

double facingSign()
{
    return static_cast<double>(facing.load(std::memory_order_relaxed));
}

}  // namespace

Cmoto::Cmoto(double x, double y) : Cball(0.0, 0.0, x, y, 0.0, 0.0, 0.0)
{
    const double f = facingSign();
    frontWheel = new Cball(0.0, 0.0, x + kFrontRestX * f, y + kWheelRestY, kWheelRadius, 0.0, 0.0);
    rearWheel = new Cball(0.0, 0.0, x + kRearRestX * f, y + kWheelRestY, kWheelRadius, 0.0, 0.0);
    head = new Cball(kHeadRadius);
}

Cmoto::~Cmoto()
{
    delete frontWheel;
    delete rearWheel;
    delete head;
}

void Cmoto::setPosition(double x, double y)
{
    position.setXY(x, y);
    frontWheel->position.setXY(x + kFrontRestX, y + kWheelRestY);
    rearWheel->position.setXY(x + kRearRestX, y + kWheelRestY);
    head->position.setXY(x + kHeadX, y + kHeadY);
}

void Cmoto::placeHead()
{
    Cvector offset(kHeadX * facingSign(), kHeadY);
    offset.rotate(angle);
    head->position.assign(position);
    head->position.add(offset);
}

void Cmoto::applySprings()
{
    Cvector acc(0.0, -kGravityPerStep);
    double torque = 0.0;
    springForce(true, acc, torque);
    springForce(false, acc, torque);
    velocity.add(acc);
    angularVelocity = angularVelocity + torque;
}

void Cmoto::springForce(bool front, Cvector& acc, double& torque)
{
    const double f = facingSign();
    Cball& wheel = front ? *frontWheel : *rearWheel;

    // The spring at rest, from its anchor on the frame to the wheel's rest centre.
    Cvector anchor = front ? Cvector(kFrontAnchorX * f, kFrontAnchorY)
                           : Cvector(kRearAnchorX * f, kRearAnchorY);
    anchor.rotate(angle);
    Cvector rest = front ? Cvector(kFrontRestX * f, kWheelRestY) : Cvector(kRearRestX * f, kWheelRestY);
    rest.rotate(angle);
    rest.subtract(anchor);

    // The spring as it is now.
    Cvector spring(position);
    spring.add(anchor);
    Cvector present(wheel.position);
    present.subtract(spring);

    const double restLength = rest.length();
    Cvector axis(rest);
    axis.x = axis.x / restLength;
    axis.y = axis.y / restLength;

    // Along the axis: compression d pushes the wheel out.
    const double d = restLength - axis.dot(present);
    Cvector force(axis);
    force.scale(kAxialStiffness * d * vmath::logarithm(1.0 + std::fabs(d)));

    // Across the axis: the wheel is pulled back onto it.
    Cvector across;
    across.setPerpendicularOf(axis);
    const double e = -across.dot(present);
    Cvector side(across);
    side.scale(kSideStiffness * e * vmath::logarithm(1.0 + std::fabs(e)));

    const Cvector old(wheel.velocity);
    force.add(side);
    force.scale(kStep);
    wheel.velocity.add(force);

    // The frame's own velocity at the wheel centre.
    Cvector lever(wheel.position);
    lever.subtract(position);
    Cvector leverPerp;
    leverPerp.setPerpendicularOf(lever);
    Cvector frameAtWheel(leverPerp);
    frameAtWheel.scale(-angularVelocity * kPhysicsPi / 180.0);
    frameAtWheel.add(velocity);

    // Damping of the wheel's motion relative to the frame.
    Cvector rel(wheel.velocity);
    rel.subtract(frameAtWheel);
    double q = kDamping * rel.length() + 1.0;
    if (q > 1.0) {
        q = vmath::logarithm(q) / kDamping;
    }
    rel.x = rel.x / q;
    rel.y = rel.y / q;
    wheel.velocity.assign(frameAtWheel);
    wheel.velocity.add(rel);

    // What the wheel gave back to the frame.
    Cvector impulse(old);
    impulse.subtract(wheel.velocity);

    wheel.velocity.addXY(0.0, -kGravityPerStep);
    const double speed = wheel.velocity.length();
    if (speed > kSpeedLimit) {
        wheel.velocity.normalize();
        wheel.velocity.scale(kSpeedLimit);
    }

    Cvector leverDir(leverPerp);
    leverDir.normalize();
    double tq = leverDir.dot(impulse) * kPiOver18000 * lever.length() / 0.4;
    if (!front && throttle) {
        tq = tq - 0.01 * rearSpinChange;
    }
    torque = torque - tq;

    Cvector push(impulse);
    push.scale(0.02);
    const double pushLength = push.length();
    if (pushLength > 0.0) {
        push.scale(1.0 - std::fabs(leverDir.dot(push)) * 0.2 / pushLength);
    }
    acc.add(push);
}

bool Cmoto::touchesPolygons(const Cpolygons* list) const
{
    return frontWheel->collidePolygons(list, true) || rearWheel->collidePolygons(list, true) ||
           head->collidePolygons(list, true);
}

void Cmoto::assign(const Cmoto& m)
{
    frontWheel->assign(*m.frontWheel);
    rearWheel->assign(*m.rearWheel);
    head->assign(*m.head);
    Cball::assign(m);
}
