#include "model/Vectors.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Vectors, RotateIsCounterClockwise)
{
    Cvector v(1, 0);
    v.rotate(90);
    EXPECT_NEAR(v.x, 0.0, 1e-15);
    EXPECT_DOUBLE_EQ(v.y, 1.0);

    Cvector u(0, 1);
    u.rotate(-90);
    EXPECT_DOUBLE_EQ(u.x, 1.0);
    EXPECT_NEAR(u.y, 0.0, 1e-15);
}

TEST(Vectors, AngleIsTheTurnFromUp)
{
    EXPECT_DOUBLE_EQ(Cvector(1, 0).angle(), -90.0);
    EXPECT_DOUBLE_EQ(Cvector(-1, 0).angle(), 90.0);
    EXPECT_EQ(Cvector(0, 1).angle(), 0.0);
    EXPECT_EQ(Cvector(0, -2).angle(), 180.0);
    EXPECT_EQ(Cvector(0, 0).angle(), 0.0);
    EXPECT_NEAR(Cvector(1e-12, -1).angle(), -180.0, 1e-9);

    // Rotating (0, L) by the angle gives the vector back.
    Cvector v(-3, -4);
    Cvector up(0, v.length());
    up.rotate(v.angle());
    EXPECT_NEAR(up.x, -3.0, 1e-12);
    EXPECT_NEAR(up.y, -4.0, 1e-12);
}

TEST(Vectors, PerpendicularsTurnClockwise)
{
    Cvector v(3, 4);
    v.makePerpendicular();
    EXPECT_EQ(v.x, 4.0);
    EXPECT_EQ(v.y, -3.0);

    const Cvector source(3, 4);
    Cvector p;
    p.setPerpendicularOf(source);
    EXPECT_EQ(p.x, 4.0);
    EXPECT_EQ(p.y, -3.0);
    EXPECT_EQ(source.x, 3.0);
    EXPECT_EQ(source.y, 4.0);

    // Works when the argument is the vector itself.
    p.setPerpendicularOf(p);
    EXPECT_EQ(p.x, -3.0);
    EXPECT_EQ(p.y, -4.0);
}

TEST(Vectors, NormalizeAndZeroLength)
{
    Cvector v(3, 4);
    v.normalize();
    EXPECT_DOUBLE_EQ(v.x, 0.6);
    EXPECT_DOUBLE_EQ(v.y, 0.8);

    Cvector zero;
    zero.normalize();
    EXPECT_EQ(zero.x, 0.0);
    EXPECT_EQ(zero.y, 0.0);
}

TEST(Vectors, DistanceIsSymmetricAndChangesNothing)
{
    const Cvector a(1, 2);
    const Cvector b(4, 6);
    EXPECT_EQ(distance(a, b), 5.0);
    EXPECT_EQ(distance(b, a), 5.0);
    EXPECT_EQ(a.x, 1.0);
    EXPECT_EQ(b.y, 6.0);
}
