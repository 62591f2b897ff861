#include "physics/Balls.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

constexpr double kR = kWheelRadius;

// A list of one polygon given by its vertices.
std::unique_ptr<Cpolygons> listOf(std::initializer_list<std::pair<double, double>> points)
{
    auto node = std::make_unique<Cpolygons>();
    node->polygon = new Cpolygon;
    for (const auto& [x, y] : points) {
        node->polygon->addVertex(x, y);
    }
    return node;
}

// A wide block whose top edge is the floor y = 0.
std::unique_ptr<Cpolygons> floorBlock()
{
    return listOf({{-1000.0, -100.0}, {1000.0, -100.0}, {1000.0, 0.0}, {-1000.0, 0.0}});
}

// Each test resolves into its own response vector.
class ContactTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        contactVelocity = &response;
        contactBacktrack = 0.0;
        contactAngularVelocity = 0.0;
    }
    void TearDown() override { contactVelocity = nullptr; }

    Cvector response;
};

TEST_F(ContactTest, BallPressedIntoFloorKeepsATenthOfItsSpeedUpwards)
{
    const auto ground = floorBlock();
    Cball ball(0.0, -100.0, 0.0, kR - 0.5, kR, 0.0, 0.0);
    EXPECT_TRUE(ball.collidePolygons(ground.get(), false));
    EXPECT_NEAR(contactBacktrack, 0.5, 1e-9);
    EXPECT_EQ(response.x, 0.0);
    EXPECT_NEAR(response.y, 0.1, 1e-9);
    EXPECT_EQ(contactAngularVelocity, 0.0);
    // The ball itself is left alone.
    EXPECT_EQ(ball.velocity.y, -100.0);
    EXPECT_EQ(ball.position.y, kR - 0.5);
}

TEST_F(ContactTest, SlidingBallStartsToRollClockwise)
{
    const auto ground = floorBlock();
    Cball ball(100.0, -10.0, 0.0, kR - 0.05, kR, 0.0, 0.0);
    ASSERT_TRUE(ball.collidePolygons(ground.get(), false));
    EXPECT_NEAR(response.x, 50.0, 1e-9);
    EXPECT_NEAR(response.y, 0.01, 1e-9);
    EXPECT_NEAR(contactAngularVelocity, -50.0 * 180.0 / (kPi * kR), 1e-9);
    // The contact point no longer slides: tangential speed + surface speed = 0.
    EXPECT_NEAR(response.x + contactAngularVelocity * kPi * kR / 180.0, 0.0, 1e-9);
}

TEST_F(ContactTest, SpinningBallOnFloorSharesSlipBetweenSpinAndSpeed)
{
    const auto ground = floorBlock();
    // Spinning clockwise at 300 deg/s with no speed: half the slip becomes speed.
    Cball ball(0.0, -10.0, 0.0, kR - 0.05, kR, 0.0, -300.0);
    ASSERT_TRUE(ball.collidePolygons(ground.get(), false));
    const double s = -300.0 * kPi * kR / 180.0;
    EXPECT_NEAR(response.x, -s / 2.0, 1e-9);
    EXPECT_NEAR(contactAngularVelocity, -150.0, 1e-9);
}

TEST_F(ContactTest, ContactsOlderThanOneStepAreRefused)
{
    const auto ground = floorBlock();
    // Moving down at 100 units/s: 1.01 units deep began 0.0101 s ago.
    Cball late(0.0, -100.0, 0.0, kR - 1.01, kR, 0.0, 0.0);
    EXPECT_FALSE(late.collidePolygons(ground.get(), false));
    EXPECT_EQ(contactBacktrack, 0.0);

    Cball inTime(0.0, -100.0, 0.0, kR - 1.0, kR, 0.0, 0.0);
    EXPECT_TRUE(inTime.collidePolygons(ground.get(), false));
    EXPECT_NEAR(contactBacktrack, 1.0, 1e-9);
}

TEST_F(ContactTest, CornerContactTimeWindowAndNormal)
{
    // The corner P = (0, 0) ends an edge running to the left; a ball just to
    // the right of it falls straight down onto it.
    const Cvector p(0.0, 0.0);
    const Cvector q(-100.0, 0.0);
    const double touchY = std::sqrt(kR * kR - 25.0);

    Cball late(0.0, -100.0, 5.0, touchY - 1.01, kR, 0.0, 0.0);
    EXPECT_EQ(late.collideCorner(p, q), -1);
    EXPECT_EQ(contactBacktrack, 0.0);
    EXPECT_FALSE(late.collideEdge(p, q));   // a refused corner refuses its edge

    Cball inTime(0.0, -100.0, 5.0, touchY - 1.0, kR, 0.0, 0.0);
    EXPECT_EQ(inTime.collideCorner(p, q), 1);
    EXPECT_NEAR(contactBacktrack, 1.0, 1e-9);
    // Normal from the corner to the centre at the moment of touching.
    const Cvector n(5.0 / kR, touchY / kR);
    const double vn = -100.0 * n.y;
    const double vt = -100.0 * -n.x;
    EXPECT_NEAR(response.x, 0.0 - 1.001 * vn * n.x - (vt / 2.0) * n.y, 1e-9);
    EXPECT_NEAR(response.y, -100.0 - 1.001 * vn * n.y - (vt / 2.0) * -n.x, 1e-9);

    // Over the edge itself the corner leaves the contact to the edge test.
    Cball overEdge(0.0, -100.0, -5.0, touchY - 1.0, kR, 0.0, 0.0);
    EXPECT_EQ(overEdge.collideCorner(p, q), 0);
}

TEST_F(ContactTest, ResolveKeepsTheContactWithTheLargestBacktrack)
{
    // An inside corner: floor y = 0 for x > 0, wall x = 0 for y > 0.
    const auto ground = listOf({{0.0, 0.0}, {1000.0, 0.0}, {1000.0, -100.0}, {-100.0, -100.0},
                                {-100.0, 1000.0}, {0.0, 1000.0}});
    Cball ball(-100.0, -100.0, kR - 0.3, kR - 0.5, kR, 0.0, 0.0);
    ASSERT_TRUE(ball.collidePolygons(ground.get(), false));
    // Floor: 0.5 deep at 100 units/s down, 0.005 s ago; the wall only 0.003 s.
    EXPECT_NEAR(contactBacktrack, std::sqrt(2.0) * 100.0 * 0.005, 1e-9);
    EXPECT_NEAR(response.x, -50.0, 1e-9);
    EXPECT_NEAR(response.y, 0.1, 1e-9);

    // Test mode reports the touch and leaves the contact state alone.
    contactBacktrack = 0.0;
    response = Cvector(7.0, 7.0);
    EXPECT_TRUE(ball.collidePolygons(ground.get(), true));
    EXPECT_EQ(contactBacktrack, 0.0);
    EXPECT_EQ(response.x, 7.0);
}

TEST_F(ContactTest, EdgeBeingLeftCountsAsTouchedWithoutAContact)
{
    const auto ground = floorBlock();
    Cball ball(0.0, 100.0, 0.0, kR - 0.5, kR, 0.0, 0.0);
    EXPECT_TRUE(ball.collidePolygons(ground.get(), false));
    EXPECT_EQ(contactBacktrack, 0.0);
}

TEST_F(ContactTest, ZeroAndParallelVelocityGiveNoContactAndNoNaN)
{
    const auto ground = floorBlock();
    Cball resting(0.0, 0.0, 0.0, kR - 0.5, kR, 0.0, 0.0);
    EXPECT_FALSE(resting.collidePolygons(ground.get(), false));
    // A corner under the rim, beside the edge: no path to trace back, so
    // neither a contact nor a refusal.
    EXPECT_EQ(resting.collideCorner(Cvector(1.0, 0.0), Cvector(100.0, 0.0)), 0);
    EXPECT_FALSE(resting.collideEdge(Cvector(-100.0, 0.0), Cvector(100.0, 0.0)));

    // Moving along the edge's line, also where rounding puts the rim just
    // clear of it: no approach, so no touch.
    Cball sliding(50.0, 0.0, 0.0, kR + 1.0, kR, 0.0, 0.0);
    EXPECT_FALSE(sliding.collideEdge(Cvector(-100.0, 0.0), Cvector(100.0, 0.0)));

    // Centre exactly on the edge's line: no direction to push it.
    Cball onLine(0.0, -10.0, 0.0, 0.0, kR, 0.0, 0.0);
    EXPECT_FALSE(onLine.collidePolygons(ground.get(), false));
    EXPECT_FALSE(std::isnan(contactBacktrack));
    EXPECT_FALSE(std::isnan(response.x) || std::isnan(response.y));
    EXPECT_FALSE(std::isnan(contactAngularVelocity));
}

TEST(BallTest, ReachOfEdges)
{
    const Cvector a(-100.0, 0.0);
    const Cvector b(100.0, 0.0);
    // Exactly one radius from the edge is not a touch.
    EXPECT_FALSE(Cball(0.0, 0.0, 0.0, kR, kR, 0.0, 0.0).edgeInReach(a, b));
    EXPECT_TRUE(Cball(0.0, 0.0, 0.0, kR - 1e-9, kR, 0.0, 0.0).edgeInReach(a, b));
    // Beyond the end of the segment only the end points count.
    EXPECT_FALSE(Cball(0.0, 0.0, 100.0 + kR, 1.0, kR, 0.0, 0.0).edgeInReach(a, b));
    EXPECT_TRUE(Cball(0.0, 0.0, 100.0 + 1.0, 1.0, kR, 0.0, 0.0).edgeInReach(a, b));

    const Cball ball(0.0, 0.0, 0.0, 0.0, 10.0, 0.0, 0.0);
    EXPECT_TRUE(ball.edgeOutOfReach(Cvector(11.0, -50.0), Cvector(12.0, 50.0)));
    EXPECT_TRUE(ball.edgeOutOfReach(Cvector(-50.0, -11.0), Cvector(50.0, -10.5)));
    EXPECT_FALSE(ball.edgeOutOfReach(Cvector(10.0, -50.0), Cvector(12.0, 50.0)));
    EXPECT_FALSE(ball.edgeOutOfReach(Cvector(-50.0, -50.0), Cvector(50.0, 50.0)));
}

TEST(BallTest, OverlapsAndWorldRectangle)
{
    const Cball a(0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0);
    EXPECT_FALSE(a.touches(Cball(0.0, 0.0, 2.0, 0.0, 1.0, 0.0, 0.0)));
    EXPECT_TRUE(a.touches(Cball(0.0, 0.0, 1.999, 0.0, 1.0, 0.0, 0.0)));

    const Cball atRightSide(0.0, 0.0, 7984.0, 0.0, 16.0, 0.0, 0.0);
    EXPECT_FALSE(atRightSide.outsideRect(-8000.0, 8000.0, -6000.0, 6000.0));
    const Cball pastRightSide(0.0, 0.0, 7984.5, 0.0, 16.0, 0.0, 0.0);
    EXPECT_TRUE(pastRightSide.outsideRect(-8000.0, 8000.0, -6000.0, 6000.0));
    const Cball belowBottom(0.0, 0.0, 0.0, -5984.5, 16.0, 0.0, 0.0);
    EXPECT_TRUE(belowBottom.outsideRect(-8000.0, 8000.0, -6000.0, 6000.0));
}

TEST(BallTest, PolygonWalkIncludesTheClosingEdgeAndStopsAtAnEmptyNode)
{
    // Triangle whose closing edge (last vertex to first) is the floor y = 0.
    Cpolygons list;
    list.polygon = new Cpolygon;
    list.polygon->addVertex(100.0, 0.0);
    list.polygon->addVertex(0.0, -100.0);
    list.polygon->addVertex(-100.0, 0.0);
    const Cball ball(0.0, -5.0, 0.0, kR - 0.5, kR, 0.0, 0.0);
    EXPECT_TRUE(ball.collidePolygons(&list, true));

    // A node without a polygon ends the walk, even with polygons after it.
    Cpolygons empty;
    empty.next = &list;
    EXPECT_FALSE(ball.collidePolygons(&empty, true));
    empty.next = nullptr;

    Cpolygon noVertices;
    EXPECT_FALSE(ball.collidePolygon(&noVertices, true));
}

}  // namespace
