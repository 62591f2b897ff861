#include "physics/Motorbike.h"
#include "physics/World.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kFrontX = 221.0 / 3.0;
constexpr double kWheelY = -113.0 / 3.0;

class MotorbikeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        facing = 1;
        throttle = false;
        rearSpinChange = 0.0;
    }
    void TearDown() override { facing = 1; }
};

TEST_F(MotorbikeTest, WheelsStartAtTheirRestCentresForEitherFacing)
{
    const Cmoto right(0.0, 0.0);
    EXPECT_EQ(right.frontWheel->position.x, 73.66666666666667);
    EXPECT_EQ(right.frontWheel->position.y, -37.666666666666664);
    EXPECT_EQ(right.rearWheel->position.x, -64.0);
    EXPECT_EQ(right.rearWheel->position.y, -37.666666666666664);
    EXPECT_EQ(right.frontWheel->radius, 26.666666666666668);
    EXPECT_EQ(right.head->radius, 15.333333333333334);
    EXPECT_EQ(right.radius, 0.0);
    EXPECT_EQ(right.head->position.x, 0.0);   // not placed yet
    EXPECT_EQ(right.head->position.y, 0.0);

    facing = -1;
    const Cmoto left(0.0, 0.0);
    EXPECT_EQ(left.frontWheel->position.x, -73.66666666666667);
    EXPECT_EQ(left.rearWheel->position.x, 64.0);
}

TEST_F(MotorbikeTest, EditorPlacementIgnoresFacingAndAngle)
{
    facing = -1;
    Cmoto bike(0.0, 0.0);
    bike.angle = 45.0;
    bike.velocity.setXY(3.0, 4.0);
    bike.setPosition(100.0, 200.0);
    EXPECT_EQ(bike.position.x, 100.0);
    EXPECT_DOUBLE_EQ(bike.frontWheel->position.x, 100.0 + kFrontX);
    EXPECT_DOUBLE_EQ(bike.rearWheel->position.x, 36.0);
    EXPECT_DOUBLE_EQ(bike.rearWheel->position.y, 200.0 + kWheelY);
    EXPECT_DOUBLE_EQ(bike.head->position.x, 98.0);
    EXPECT_DOUBLE_EQ(bike.head->position.y, 200.0 + 233.0 / 3.0);
    EXPECT_EQ(bike.velocity.x, 3.0);
}

TEST_F(MotorbikeTest, HeadFollowsTheFrameAngle)
{
    Cmoto bike(10.0, 20.0);
    bike.angle = 90.0;
    bike.placeHead();
    EXPECT_NEAR(bike.head->position.x, 10.0 - 233.0 / 3.0, 1e-12);
    EXPECT_NEAR(bike.head->position.y, 20.0 - 2.0, 1e-12);

    facing = -1;
    bike.angle = 0.0;
    bike.placeHead();
    EXPECT_EQ(bike.head->position.x, 12.0);
    EXPECT_EQ(bike.head->position.y, 20.0 + 233.0 / 3.0);
}

TEST_F(MotorbikeTest, BikeAtRestFeelsOnlyGravity)
{
    Cmoto bike(0.0, 0.0);
    bike.applySprings();
    EXPECT_NEAR(bike.velocity.x, 0.0, 1e-9);
    EXPECT_NEAR(bike.velocity.y, -2.0, 1e-9);
    EXPECT_NEAR(bike.angularVelocity, 0.0, 1e-9);
    for (const Cball* wheel : {bike.frontWheel, bike.rearWheel}) {
        EXPECT_NEAR(wheel->velocity.x, 0.0, 1e-9);
        EXPECT_NEAR(wheel->velocity.y, -2.0, 1e-9);
    }
}

TEST_F(MotorbikeTest, CompressedSpringPushesTheWheelOutAndIsDamped)
{
    Cmoto bike(0.0, 0.0);
    // The front spring's axis, from its anchor (43, 16) to the wheel's rest centre.
    Cvector axis(kFrontX - 43.0, kWheelY - 16.0);
    axis.normalize();
    Cvector pressed(axis);
    pressed.scale(-10.0);
    bike.frontWheel->position.add(pressed);

    Cvector acc(0.0, 0.0);
    double torque = 0.0;
    bike.springForce(true, acc, torque);

    // 5000 * 10 * ln 11 = 119894.8, a change of 1198.948 in one step; the
    // damping maps a relative speed s to 0.3 s / ln(1 + 0.3 s).
    const double force = 5000.0 * 10.0 * std::log(11.0);
    EXPECT_NEAR(force, 119894.8, 0.05);
    const double s = force * 0.01;
    const double damped = 0.3 * s / std::log(1.0 + 0.3 * s);
    EXPECT_NEAR(bike.frontWheel->velocity.x, axis.x * damped, 1e-6);
    EXPECT_NEAR(bike.frontWheel->velocity.y + 2.0, axis.y * damped, 1e-6);

    // The frame is pushed the other way and turned.
    EXPECT_LT(acc.dot(axis), 0.0);
    EXPECT_NE(torque, 0.0);
}

TEST_F(MotorbikeTest, DampingOfRelativeSpeeds)
{
    for (const auto& [speed, expected] : {std::pair{100.0, 8.7362}, {10.0, 2.1640}, {1.0, 1.1434}}) {
        Cmoto bike(0.0, 0.0);
        // Wheel moving sideways relative to a frame at rest, at its rest centre.
        bike.rearWheel->velocity.setXY(speed, 0.0);
        Cvector acc;
        double torque = 0.0;
        bike.springForce(false, acc, torque);
        EXPECT_NEAR(bike.rearWheel->velocity.x, expected, 1e-4) << speed;

        // What the wheel gave back turns the frame, with pi / 18000 taken
        // as 0.00017453292519943296 to the last bit.
        const Cvector lever(-64.0, kWheelY);
        Cvector leverDir;
        leverDir.setPerpendicularOf(lever);
        leverDir.normalize();
        const Cvector given(speed - bike.rearWheel->velocity.x, 0.0);
        EXPECT_EQ(torque, 0.0 - leverDir.dot(given) * 0.00017453292519943296 * lever.length() / 0.4) << speed;
    }
}

TEST_F(MotorbikeTest, WheelSpeedIsLimited)
{
    Cmoto bike(0.0, 0.0);
    bike.velocity.setXY(5000.0, 0.0);
    bike.frontWheel->velocity.setXY(5000.0, 0.0);
    Cvector acc;
    double torque = 0.0;
    bike.springForce(true, acc, torque);
    EXPECT_NEAR(bike.frontWheel->velocity.length(), 8000.0 / 3.0, 1e-9);
    EXPECT_LT(bike.frontWheel->velocity.y, 0.0);   // gravity came before the limit
}

TEST_F(MotorbikeTest, ThrottleReactionTurnsTheFrameOnlyForTheRearWheel)
{
    Cmoto bike(0.0, 0.0);
    rearSpinChange = 100.0;
    Cvector acc;
    double plain = 0.0;
    bike.springForce(false, acc, plain);

    Cmoto driven(0.0, 0.0);
    throttle = true;
    double withThrottle = 0.0;
    driven.springForce(false, acc, withThrottle);
    EXPECT_NEAR(withThrottle - plain, 1.0, 1e-9);

    double front = 0.0;
    Cmoto other(0.0, 0.0);
    other.springForce(true, acc, front);
    EXPECT_NEAR(front, 0.0, 1e-9);
}

TEST_F(MotorbikeTest, OverlapTestCoversWheelsAndHead)
{
    Cmoto bike(0.0, 0.0);
    bike.setPosition(0.0, 0.0);
    Cpolygons list;
    list.polygon = new Cpolygon;
    // A small box around the head only.
    list.polygon->addVertex(-10.0, 70.0);
    list.polygon->addVertex(5.0, 70.0);
    list.polygon->addVertex(5.0, 85.0);
    list.polygon->addVertex(-10.0, 85.0);
    EXPECT_TRUE(bike.touchesPolygons(&list));

    bike.setPosition(0.0, 1000.0);
    EXPECT_FALSE(bike.touchesPolygons(&list));
}

TEST_F(MotorbikeTest, AssignCopiesSlotBySlot)
{
    Cmoto source(0.0, 0.0);
    Cmoto target(500.0, 500.0);
    Cball* targetFront = target.frontWheel;
    std::swap(source.frontWheel, source.rearWheel);   // as a turn-around does
    source.angle = 12.0;
    source.head->position.setXY(1.0, 2.0);
    target.assign(source);
    EXPECT_EQ(target.frontWheel, targetFront);
    EXPECT_EQ(target.frontWheel->position.x, -64.0);
    EXPECT_EQ(target.rearWheel->position.x, kFrontX);
    EXPECT_EQ(target.head->position.y, 2.0);
    EXPECT_EQ(target.position.x, 0.0);
    EXPECT_EQ(target.angle, 12.0);
    EXPECT_EQ(target.head->radius, kHeadRadius);
}

}  // namespace
