// Filling polygon lists through the shared tessellator, the self-crossing
// test, and the game's display list of a polygon list.

#include "GLTestSupport.h"

#include "gfx/Tessellator.h"
#include "model/Globals.h"
#include "model/Polygon.h"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <initializer_list>
#include <limits>
#include <memory>
#include <utility>

namespace {

using Points = std::initializer_list<std::pair<double, double>>;

Cpolygon* makePolygon(Points points)
{
    Cpolygon* p = new Cpolygon;
    for (const auto& [x, y] : points) {
        p->addVertex(x, y);
    }
    return p;
}

Cpolygon* square(double x0, double y0, double x1, double y1)
{
    return makePolygon({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}});
}

// A list built as the editor keeps it: its polygons, then one empty node.
class PolygonList {
public:
    void add(Cpolygon* polygon)
    {
        Cpolygons* node = new Cpolygons;
        node->polygon = polygon;
        append(node);
    }
    void addEmptyNode() { append(new Cpolygons); }
    Cpolygons* head() const { return first.get(); }

private:
    void append(Cpolygons* node)
    {
        if (!first) {
            first.reset(node);
            last = node;
            return;
        }
        last->next = node;
        node->prev = last;
        last = node;
    }
    std::unique_ptr<Cpolygons> first;
    Cpolygons* last = nullptr;
};

class TessellatorTest : public GLTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        GLTest::SetUp();
        gameMode = GetParam();
        createTessellator();
    }
    void TearDown() override
    {
        deleteTessellator();
        if (listId != 0) {
            glDeleteLists(listId, 1);
        }
        gameMode = true;
    }
    void draw(const PolygonList& list)
    {
        Cpolygons::drawPolygons(list.head(), listId);
    }
    unsigned int listId = 0;
};

TEST_P(TessellatorTest, NestedSquaresAlternateBetweenFillAndHole)
{
    PolygonList list;
    list.add(square(50, 50, 250, 250));
    list.add(square(100, 100, 200, 200));
    list.addEmptyNode();   // skipped
    draw(list);
    const Frame f;
    EXPECT_FALSE(f.lit(150, 150));   // the hole
    EXPECT_TRUE(f.lit(75, 150));     // the band
    EXPECT_TRUE(f.lit(98, 150));
    EXPECT_FALSE(f.lit(20, 20));     // outside
    EXPECT_NEAR(f.litCount(), 200 * 200 - 100 * 100, 400);

    // A third square, of the opposite orientation, is filled again.
    clear();
    list.add(makePolygon({{125, 125}, {125, 175}, {175, 175}, {175, 125}}));
    if (listId != 0) {
        glDeleteLists(listId, 1);
        listId = 0;
    }
    draw(list);
    const Frame g;
    EXPECT_TRUE(g.lit(150, 150));
    EXPECT_FALSE(g.lit(110, 110));
    EXPECT_TRUE(g.lit(75, 75));
    EXPECT_NEAR(g.litCount(), 200 * 200 - 100 * 100 + 50 * 50, 500);
}

TEST_P(TessellatorTest, ValidityOfSinglePolygons)
{
    std::unique_ptr<Cpolygon> convex(square(10, 10, 60, 60));
    std::unique_ptr<Cpolygon> concave(makePolygon({{10, 10}, {60, 10}, {35, 30}, {60, 60}, {10, 60}}));
    std::unique_ptr<Cpolygon> bowTie(makePolygon({{10, 10}, {60, 60}, {60, 10}, {10, 60}}));
    std::unique_ptr<Cpolygon> twoVertices(makePolygon({{10, 10}, {60, 60}}));
    std::unique_ptr<Cpolygon> repeated(makePolygon({{10, 10}, {60, 10}, {60, 10}, {60, 60}, {10, 60}}));
    std::unique_ptr<Cpolygon> closingRepeat(makePolygon({{10, 10}, {60, 10}, {60, 60}, {10, 10}}));
    std::unique_ptr<Cpolygon> concaveRepeat(
        makePolygon({{10, 10}, {60, 10}, {35, 30}, {35, 30}, {60, 60}, {10, 60}}));
    std::unique_ptr<Cpolygon> touching(   // revisits a vertex
        makePolygon({{10, 10}, {60, 10}, {35, 35}, {60, 60}, {10, 60}, {35, 35}}));
    // Winds on round its first vertex and crosses its first edge, although
    // every fan triangle from that vertex turns the same way.
    std::unique_ptr<Cpolygon> spiral(
        makePolygon({{100, 100}, {110, 100}, {100, 110}, {90, 100}, {100, 90}, {108, 103}}));
    std::unique_ptr<Cpolygon> empty(new Cpolygon);

    EXPECT_TRUE(convex->isValid());
    EXPECT_TRUE(concave->isValid());
    EXPECT_FALSE(bowTie->isValid());
    EXPECT_FALSE(twoVertices->isValid());
    EXPECT_FALSE(repeated->isValid());
    EXPECT_FALSE(closingRepeat->isValid());
    EXPECT_FALSE(concaveRepeat->isValid());
    EXPECT_FALSE(touching->isValid());
    EXPECT_FALSE(spiral->isValid());
    EXPECT_FALSE(empty->isValid());
    EXPECT_TRUE(convex->isValid());   // nothing carried over from a failed test

    // The test draws in transparent black: the frame is untouched.
    EXPECT_EQ(Frame().litCount(), 0);
}

TEST_P(TessellatorTest, ValidityCoversTheUncountedMouseVertex)
{
    // Three placed vertices and the mouse vertex that makes a bow-tie.
    std::unique_ptr<Cpolygon> p(makePolygon({{10, 10}, {60, 60}, {60, 10}}));
    EXPECT_TRUE(p->isValid());
    Cvertex* last = p->first->next->next;
    last->next = new Cvertex(10, 60);
    EXPECT_FALSE(p->isValid());
    last->next->setXY(5, 5);   // the mouse moved away: no crossing
    EXPECT_TRUE(p->isValid());
}

TEST_P(TessellatorTest, OnePlacedVertexDrawsTheRubberBand)
{
    std::unique_ptr<Cpolygon> p(makePolygon({{20, 150}}));
    p->first->next = new Cvertex(380, 150);   // the mouse vertex, not counted
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    p->tessellate(false, true);
    const Frame f;
    EXPECT_TRUE(f.lit(200, 150) || f.lit(200, 149));
    EXPECT_FALSE(f.lit(200, 160));
    const Box b = f.litBox();
    EXPECT_LE(b.height(), 2);
    EXPECT_NEAR(b.width(), 360, 2);
}

TEST_P(TessellatorTest, OutlineOfACrossingPolygonNeedsNoPreparedScratch)
{
    // The editor outlines a selected polygon on its own; one loaded from a
    // file may cross itself, so the tessellator asks for a new vertex.
    std::unique_ptr<Cpolygon> bowTie(makePolygon({{50, 50}, {250, 250}, {250, 50}, {50, 250}}));
    bowTie->tessellate(false, true);
    bowTie->tessellate(false, true);
    const Frame f;
    EXPECT_TRUE(f.lit(250, 150) || f.lit(249, 150));
    EXPECT_FALSE(f.lit(200, 150));
}

TEST_P(TessellatorTest, DamagedCoordinatesFromAFileDoNotBreakTheFill)
{
    // A track file may hold NaN, infinite or absurdly large coordinates.
    // The sound polygons around them must still fill; nothing may crash.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    PolygonList list;
    list.add(square(50, 50, 150, 150));
    list.add(makePolygon({{200, 50}, {nan, 60}, {300, 150}, {200, 150}}));
    list.add(makePolygon({{200, 200}, {inf, 200}, {-inf, nan}}));
    list.add(makePolygon({{1e308, 1e308}, {-1e308, 1e308}, {0, -1e308}}));
    list.add(square(60, 60, 140, 140));
    draw(list);
    const Frame f;
    EXPECT_TRUE(f.lit(55, 100));    // the band of the two nested squares
    EXPECT_FALSE(f.lit(100, 100));  // their hole

    std::unique_ptr<Cpolygon> damaged(makePolygon({{10, 10}, {nan, 20}, {30, 30}, {inf, 5}}));
    damaged->tessellate(false, true);
    damaged->isValid();
}

INSTANTIATE_TEST_SUITE_P(GameAndEditor, TessellatorTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Game" : "Editor";
                         });

class PolygonListTest : public GLTest {
protected:
    void TearDown() override
    {
        deleteTessellator();
        if (listId != 0) {
            glDeleteLists(listId, 1);
        }
        gameMode = true;
    }
    unsigned int listId = 0;
};

TEST_F(PolygonListTest, GameCompilesTheListOnceAndReplaysIt)
{
    gameMode = true;
    createTessellator();
    PolygonList list;
    Cpolygon* moving = square(50, 50, 150, 150);
    list.add(moving);

    Cpolygons::drawPolygons(list.head(), listId);
    ASSERT_NE(listId, 0u);
    EXPECT_TRUE(glIsList(listId));
    const unsigned int first = listId;
    const Frame before;
    EXPECT_TRUE(before.lit(100, 100));

    // Later changes do not reach the compiled list.
    moving->translate(200, 0);
    clear();
    Cpolygons::drawPolygons(list.head(), listId);
    EXPECT_EQ(listId, first);
    const Frame after;
    EXPECT_TRUE(after == before);
    EXPECT_FALSE(after.lit(300, 100));
}

TEST_F(PolygonListTest, EditorTessellatesAfreshEveryTime)
{
    gameMode = false;
    createTessellator();
    PolygonList list;
    Cpolygon* moving = square(50, 50, 150, 150);
    list.add(moving);

    Cpolygons::drawPolygons(list.head(), listId);
    EXPECT_EQ(listId, 0u);
    EXPECT_TRUE(Frame().lit(100, 100));
    moving->translate(200, 0);
    clear();
    Cpolygons::drawPolygons(list.head(), listId);
    const Frame f;
    EXPECT_FALSE(f.lit(100, 100));
    EXPECT_TRUE(f.lit(300, 100));
}

TEST_F(PolygonListTest, GameTexturesTheGroundInWorldUnits)
{
    gameMode = true;
    createTessellator();
    // Two texels across: each covers textureRepeat / 2 world units.
    const GLuint tex = makeTexture(2, 2, {kRed, kGreen, kRed, kGreen});
    textureRepeat = 20;
    PolygonList list;
    list.add(square(0, 50, 400, 250));
    Cpolygons::drawPolygons(list.head(), listId);
    glDisable(GL_TEXTURE_2D);
    const Frame f;
    for (int x = 3; x < 400; x += 10) {
        const uint32_t expected = ((x / 10) % 2 == 0) ? kRed : kGreen;
        EXPECT_TRUE(isColour(f.at(x + 2, 150), expected)) << "column " << x + 2;
    }
    glDeleteTextures(1, &tex);
}

TEST_F(PolygonListTest, GroundTilesDrawTheWholeListsFillWhereverTheViewIs)
{
    gameMode = true;
    createTessellator();
    const GLuint tex = makeTexture(2, 2, {kRed, kGreen, kRed, kGreen});
    textureRepeat = 20;
    // A ground of several tiles with holes on and across tile borders, a
    // slanted island in one hole, and a polygon far off.
    PolygonList list;
    list.add(square(0, 0, 2600, 1800));
    for (int i = 0; i < 12; ++i) {
        const double x = 60.0 + 211.0 * i;
        const double y = 40.0 + 137.0 * i;
        list.add(square(x, y, x + 120.0, y + 90.0));
    }
    list.add(makePolygon({{520, 200}, {900, 260}, {700, 480}}));
    list.add(square(9000, 9000, 9100, 9100));
    // Rolling ground above it, which the tessellator sends as strips.
    Cpolygon* hills = new Cpolygon;
    for (int i = 0; i <= 120; ++i) {
        hills->addVertex(20.0 * i, 2000.0 + 60.0 * std::sin(i * 0.4) + (i % 2) * 15.0);
    }
    hills->addVertex(2400.0, 1900.0);
    hills->addVertex(0.0, 1900.0);
    list.add(hills);
    unsigned int tiles = 0;
    for (const auto& [x, y] : {std::pair{0.0, 0.0}, {380.0, 150.0}, {470.0, 410.0}, {1900.0, 1100.0},
                               {2200.0, 1750.0}, {300.0, 1800.0}, {5000.0, 5000.0}}) {
        clear();
        glPushMatrix();
        glTranslated(-x, -y, 0.0);
        Cpolygons::drawPolygons(list.head(), listId);
        glPopMatrix();
        const Frame whole;
        clear();
        glPushMatrix();
        glTranslated(-x, -y, 0.0);
        drawPolygonsInView(list.head(), tiles, x, x + kViewW, y, y + kViewH);
        glPopMatrix();
        const Frame tiled;
        EXPECT_TRUE(tiled == whole) << x << ", " << y;
        EXPECT_EQ(whole.litCount() == 0, x == 5000.0);
    }
    EXPECT_NE(tiles, 0u);
    deletePolygonTiles(tiles);
    EXPECT_EQ(tiles, 0u);
    glDisable(GL_TEXTURE_2D);
    glDeleteTextures(1, &tex);
}

TEST_F(PolygonListTest, GroundWhoseOutlinesCrossFillsTheOddRegion)
{
    gameMode = true;
    createTessellator();
    // A five-pointed star (its middle wound twice: a hole), a square over
    // one of its points, a square hole inside that square, a polygon that
    // touches the square at one vertex, and more. Drawn whole by the tessellator,
    // and in the view through the stencil: the same region, but for pixels
    // on the edges.
    PolygonList list;
    Cpolygon* star = new Cpolygon;
    for (int i = 0; i < 5; ++i) {
        const double a = 1.5707963267948966 + i * 2.0 * 2.0 * 3.141592653589793 / 5.0;
        star->addVertex(200.0 + 140.0 * std::cos(a), 150.0 + 140.0 * std::sin(a));
    }
    list.add(star);
    list.add(square(170, 200, 260, 290));
    list.add(square(190, 240, 220, 270));
    list.add(makePolygon({{260, 290}, {330, 290}, {330, 260}}));
    // A tangle of random edges in a corner: so many crossings that the
    // stencil takes over from the tessellator.
    Cpolygon* tangle = new Cpolygon;
    uint32_t seed = 5;
    for (int i = 0; i < 150; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double x = 300.0 + 100.0 * static_cast<double>(seed >> 8) / 16777216.0;
        seed = seed * 1664525u + 1013904223u;
        tangle->addVertex(x, 80.0 * static_cast<double>(seed >> 8) / 16777216.0);
    }
    list.add(tangle);
    Cpolygons::drawPolygons(list.head(), listId);
    const Frame whole;
    clear();
    unsigned int ground = 0;
    drawPolygonsInView(list.head(), ground, 0.0, kViewW, 0.0, kViewH);
    const Frame stencilled;
    EXPECT_FALSE(stencilled.lit(200, 150));   // the star's middle
    EXPECT_TRUE(stencilled.lit(130, 180));    // a point of the star
    EXPECT_FALSE(stencilled.lit(218, 262));   // the hole in the square
    EXPECT_TRUE(stencilled.lit(300, 285));
    int differ = 0;
    for (int y = 0; y < kViewH; ++y) {
        for (int x = 0; x < kViewW; ++x) {
            differ += whole.lit(x, y) != stencilled.lit(x, y) ? 1 : 0;
        }
    }
    EXPECT_GT(whole.litCount(), 15000);
    EXPECT_LT(differ, 600) << "of " << whole.litCount();
    deletePolygonTiles(ground);
}

// A stranger's track: one polygon of thousands of random vertices whose
// edges all cross each other. The tessellator's sweep over its crossings
// takes minutes; the game's ground, the editor's validity test, its
// outline and its fill without a stencil buffer must not.
TEST_F(PolygonListTest, TangledPolygonOpensInBoundedTime)
{
    gameMode = true;
    createTessellator();
    PolygonList list;
    list.add(square(0, 0, 400, 100));
    Cpolygon* tangle = new Cpolygon;
    uint32_t seed = 9;
    for (int i = 0; i < 5000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double x = -200.0 + 800.0 * static_cast<double>(seed >> 8) / 16777216.0;
        seed = seed * 1664525u + 1013904223u;
        const double y = -150.0 + 600.0 * static_cast<double>(seed >> 8) / 16777216.0;
        tangle->addVertex(x, y);
    }
    list.add(tangle);
    // Processor time, which a busy machine does not inflate.
    const std::clock_t start = std::clock();
    unsigned int ground = 0;
    drawPolygonsInView(list.head(), ground, 0.0, kViewW, 0.0, kViewH);
    EXPECT_FALSE(tangle->isValid());
    tangle->tessellate(false, true);
    // The editor's fill when it has no stencil buffer.
    gameMode = false;
    unsigned int noList = 0;
    Cpolygons::drawPolygons(list.head(), noList);
    gameMode = true;
    glFinish();
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    EXPECT_LT(seconds, 10.0);
    EXPECT_GT(Frame().litCount(), 1000);
    deletePolygonTiles(ground);
}

} // namespace
