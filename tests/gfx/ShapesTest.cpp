// Drawing of circles, apples, balls and the bike's frame and springs.

#include "GLTestSupport.h"

#include "gfx/DisplayLists.h"
#include "gfx/Text.h"
#include "model/Apple.h"
#include "physics/Balls.h"
#include "physics/Motorbike.h"

#include <cmath>
#include <memory>

namespace {

class ShapesTest : public GLTest {
protected:
    void TearDown() override
    {
        for (unsigned int* id : {&ballList, &appleList, &frameList, &springList}) {
            if (*id != 0) {
                glDeleteLists(*id, 1);
                *id = 0;
            }
        }
        facing = 1;
    }
    // Bottom-left red, bottom-right green, top-left blue, top-right white.
    static GLuint checker() { return makeTexture(2, 2, {kRed, kGreen, kBlue, kWhite}); }
};

TEST_F(ShapesTest, CircleHasSixteenSegmentsStartingAtAnEighthOfPi)
{
    const Cvector centre(200.0, 150.0);
    const std::vector<Vertex2> v = feedbackVertices([&] { drawCircle(centre, 100.0); });
    ASSERT_EQ(v.size(), 32u);   // 16 lines of 2 vertices
    for (int i = 0; i < 16; ++i) {
        const double a = (i + 1) * kPi / 8.0;
        EXPECT_NEAR(v[2 * i].x, 200.0 + 100.0 * std::cos(a), 1e-3) << i;
        EXPECT_NEAR(v[2 * i].y, 150.0 + 100.0 * std::sin(a), 1e-3) << i;
    }
    // The loop closes from the vertex at 2 pi back to the one at pi / 8.
    EXPECT_NEAR(v[31].x, v[0].x, 1e-4);
    EXPECT_NEAR(v[31].y, v[0].y, 1e-4);
}

TEST_F(ShapesTest, TexturedBallTurnsWithItsAngle)
{
    const GLuint tex = checker();
    const Cball ball(0, 0, 200, 150, 50, 90, 0);
    ball.drawBall();
    ASSERT_NE(ballList, 0u);
    const unsigned int list = ballList;
    const Frame f;
    // A quarter turn anticlockwise carries the bottom-left texel to the
    // bottom right, and so on round.
    EXPECT_TRUE(isColour(f.at(225, 125), kRed));
    EXPECT_TRUE(isColour(f.at(225, 175), kGreen));
    EXPECT_TRUE(isColour(f.at(175, 175), kWhite));
    EXPECT_TRUE(isColour(f.at(175, 125), kBlue));
    const Box b = f.litBox();
    EXPECT_NEAR(b.x0, 150, 1);
    EXPECT_NEAR(b.x1, 249, 1);
    EXPECT_NEAR(b.y0, 100, 1);
    EXPECT_NEAR(b.y1, 199, 1);

    // Unturned, the same list is used again.
    clear();
    const Cball still(0, 0, 100, 100, 20, 0, 0);
    still.drawBall();
    EXPECT_EQ(ballList, list);
    const Frame g;
    EXPECT_TRUE(isColour(g.at(90, 90), kRed));
    EXPECT_TRUE(isColour(g.at(110, 90), kGreen));
    EXPECT_TRUE(isColour(g.at(90, 110), kBlue));
    EXPECT_TRUE(isColour(g.at(110, 110), kWhite));
    glDisable(GL_TEXTURE_2D);
    glDeleteTextures(1, &tex);
}

TEST_F(ShapesTest, GameAppleIsAnUnturnedFortyUnitSquare)
{
    Capples first(100.0, 100.0);
    Capples* second = new Capples(300.5, 200.25);
    first.next = second;
    second->prev = &first;
    const std::vector<Vertex2> v = feedbackVertices([&] { drawApples(&first, true); });
    ASSERT_NE(appleList, 0u);
    ASSERT_FALSE(v.empty());
    std::vector<Vertex2> a, b;
    for (const Vertex2& p : v) {
        (p.x < 200 ? a : b).push_back(p);
    }
    const Bounds ba = boundsOf(a);
    EXPECT_FLOAT_EQ(ba.x0, 80.0f);
    EXPECT_FLOAT_EQ(ba.x1, 120.0f);
    EXPECT_FLOAT_EQ(ba.y0, 80.0f);
    EXPECT_FLOAT_EQ(ba.y1, 120.0f);
    const Bounds bb = boundsOf(b);
    EXPECT_NEAR(bb.x0, 280.5f, 1e-3);
    EXPECT_NEAR(bb.y1, 220.25f, 1e-3);

    EXPECT_TRUE(feedbackVertices([] { drawApples(nullptr, true); }).empty());
    EXPECT_TRUE(feedbackVertices([] { drawApple(nullptr, false); }).empty());
}

TEST_F(ShapesTest, EditorAppleIsACircleWithALetter)
{
    const Capples apple(200.0, 150.0);
    drawApple(&apple, false);
    EXPECT_EQ(appleList, 0u);   // no textured square in the editor
    const Frame f;
    const Box b = f.litBox();
    EXPECT_NEAR(b.x0, 180, 1);
    EXPECT_NEAR(b.x1, 220, 1);
    EXPECT_NEAR(b.y0, 130, 1);
    EXPECT_NEAR(b.y1, 170, 1);
    // The letter fills some of the inside, centred on the apple, below its
    // centre by 12 (its base line).
    int inside = 0;
    for (int y = 140; y <= 160; ++y) {
        for (int x = 190; x <= 210; ++x) {
            inside += f.lit(x, y) ? 1 : 0;
        }
    }
    EXPECT_GT(inside, 40);
    EXPECT_FALSE(f.lit(200, 136));   // under the base line, inside the circle
}

class BikeDrawTest : public ShapesTest {
protected:
    void SetUp() override
    {
        ShapesTest::SetUp();
        facing = 1;
        bike = std::make_unique<Cmoto>(200.0, 100.0);
    }
    std::unique_ptr<Cmoto> bike;
};

TEST_F(BikeDrawTest, FrameIsCentredAboveTheReferencePointAndMirrored)
{
    const std::vector<Vertex2> v = feedbackVertices([&] { bike->drawFrame(); });
    ASSERT_NE(frameList, 0u);
    const Bounds b = boundsOf(v);
    EXPECT_NEAR(b.x0, 200.0 - 254.0 / 3.0, 1e-3);
    EXPECT_NEAR(b.x1, 200.0 + 254.0 / 3.0, 1e-3);
    EXPECT_NEAR(b.y0, 100.0 + 95.0 / 3.0 - 184.0 / 3.0, 1e-3);
    EXPECT_NEAR(b.y1, 100.0 + 95.0 / 3.0 + 184.0 / 3.0, 1e-3);

    // Turned a quarter anticlockwise, the lift points to the left.
    bike->angle = 90.0;
    const Bounds t = boundsOf(feedbackVertices([&] { bike->drawFrame(); }));
    EXPECT_NEAR((t.x0 + t.x1) / 2.0, 200.0 - 95.0 / 3.0, 1e-3);
    EXPECT_NEAR(t.y1 - t.y0, 2.0 * 254.0 / 3.0, 1e-3);

    // Facing left mirrors the picture.
    bike->angle = 0.0;
    clear();
    const GLuint tex = makeTexture(2, 1, {kRed, kGreen});
    bike->drawFrame();
    const Frame right;
    EXPECT_TRUE(isColour(right.at(150, 130), kRed));
    EXPECT_TRUE(isColour(right.at(250, 130), kGreen));
    clear();
    facing = -1;
    bike->drawFrame();
    const Frame left;
    EXPECT_TRUE(isColour(left.at(150, 130), kGreen));
    EXPECT_TRUE(isColour(left.at(250, 130), kRed));
    glDisable(GL_TEXTURE_2D);
    glDeleteTextures(1, &tex);
}

TEST_F(BikeDrawTest, SpringRunsFromItsAnchorToTheWheelCentre)
{
    // Front anchor (43, 16) from the frame at (200, 100): (243, 116).
    bike->frontWheel->position.setXY(243.0, 50.0);
    const Bounds f = boundsOf(feedbackVertices([&] { bike->drawSpring(true); }));
    ASSERT_NE(springList, 0u);
    EXPECT_NEAR(f.x0, 238.0, 1e-3);
    EXPECT_NEAR(f.x1, 248.0, 1e-3);
    EXPECT_NEAR(f.y0, 50.0, 1e-3);
    EXPECT_NEAR(f.y1, 116.0, 1e-3);

    // Rear anchor (-28/3, -53/3), mirrored when facing left, turned with the frame.
    facing = -1;
    bike->angle = 180.0;
    // Anchor: (28/3, -53/3) turned half round = (-28/3, 53/3).
    const double ax = 200.0 - 28.0 / 3.0;
    const double ay = 100.0 + 53.0 / 3.0;
    bike->rearWheel->position.setXY(ax + 60.0, ay);
    const Bounds r = boundsOf(feedbackVertices([&] { bike->drawSpring(false); }));
    EXPECT_NEAR(r.x0, ax, 1e-3);
    EXPECT_NEAR(r.x1, ax + 60.0, 1e-3);
    EXPECT_NEAR(r.y0, ay - 5.0, 1e-3);
    EXPECT_NEAR(r.y1, ay + 5.0, 1e-3);
}

} // namespace
