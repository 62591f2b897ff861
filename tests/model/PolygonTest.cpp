#include "model/Polygon.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

Cpolygon* square(double x0)
{
    auto* p = new Cpolygon();
    p->addVertex(x0, 0);
    p->addVertex(x0 + 1, 0);
    p->addVertex(x0 + 1, 1);
    p->addVertex(x0, 1);
    return p;
}

// A list of nodes; polygons[i] false leaves node i empty.
std::vector<Cpolygons*> makeList(const std::vector<bool>& polygons, Cpolygons*& head)
{
    std::vector<Cpolygons*> nodes;
    for (size_t i = 0; i < polygons.size(); ++i) {
        auto* node = new Cpolygons();
        if (polygons[i]) {
            node->polygon = square(static_cast<double>(i));
        }
        if (!nodes.empty()) {
            nodes.back()->next = node;
            node->prev = nodes.back();
        }
        nodes.push_back(node);
    }
    head = nodes.empty() ? nullptr : nodes.front();
    return nodes;
}

} // namespace

TEST(Polygon, AddVertexAppendsInOrderAndTranslateMovesAll)
{
    Cpolygon p;
    p.addVertex(1, 2);
    p.addVertex(3, 4);
    p.addVertex(5, 6);
    EXPECT_EQ(p.count, 3);
    p.translate(10, -1);
    std::vector<double> xs, ys;
    for (Cvertex* v = p.first; v != nullptr; v = v->next) {
        xs.push_back(v->x);
        ys.push_back(v->y);
    }
    EXPECT_EQ(xs, (std::vector<double>{11, 13, 15}));
    EXPECT_EQ(ys, (std::vector<double>{1, 3, 5}));
}

TEST(Polygon, RemoveOnlyNodeEmptiesTheList)
{
    Cpolygons* head = nullptr;
    auto nodes = makeList({true}, head);
    EXPECT_EQ(Cpolygons::removeNode(nodes[0], head), nullptr);
    EXPECT_EQ(head, nullptr);
}

TEST(Polygon, RemoveMiddleNodePrefersTheFollowingPolygon)
{
    Cpolygons* head = nullptr;
    auto nodes = makeList({true, true, true}, head);
    EXPECT_EQ(Cpolygons::removeNode(nodes[1], head), nodes[2]);
    EXPECT_EQ(head, nodes[0]);
    EXPECT_EQ(nodes[0]->next, nodes[2]);
    EXPECT_EQ(nodes[2]->prev, nodes[0]);
    delete head;
}

TEST(Polygon, RemoveBeforeTheEditorsEmptyNodeReturnsThePreceding)
{
    Cpolygons* head = nullptr;
    auto nodes = makeList({true, true, false}, head);
    EXPECT_EQ(Cpolygons::removeNode(nodes[1], head), nodes[0]);
    EXPECT_EQ(nodes[0]->next, nodes[2]);
    EXPECT_EQ(nodes[2]->prev, nodes[0]);

    // Now the only polygon goes: nothing with a polygon is left.
    EXPECT_EQ(Cpolygons::removeNode(nodes[0], head), nullptr);
    EXPECT_EQ(head, nodes[2]);
    EXPECT_EQ(nodes[2]->prev, nullptr);
    delete head;
}

TEST(Polygon, RemoveFirstNodeMovesTheHead)
{
    Cpolygons* head = nullptr;
    auto nodes = makeList({true, true}, head);
    EXPECT_EQ(Cpolygons::removeNode(nodes[0], head), nodes[1]);
    EXPECT_EQ(head, nodes[1]);
    EXPECT_EQ(nodes[1]->prev, nullptr);
    delete head;
}

TEST(Polygon, MillionVertexChainAndNodeListFreeWithoutRecursion)
{
    constexpr int kCount = 1000000;
    auto* polygon = new Cpolygon();
    Cvertex* last = nullptr;
    for (int i = 0; i < kCount; ++i) {
        auto* v = new Cvertex(i, -i);
        if (last == nullptr) {
            polygon->first = v;
        } else {
            last->next = v;
        }
        last = v;
    }
    polygon->count = kCount;
    delete polygon;

    auto* head = new Cpolygons();
    Cpolygons* tail = head;
    for (int i = 0; i < kCount; ++i) {
        auto* node = new Cpolygons();
        node->polygon = new Cpolygon();
        node->polygon->addVertex(i, i);
        tail->next = node;
        node->prev = tail;
        tail = node;
    }
    delete head;
}

TEST(Polygon, InsideGroundFollowsTheOddWindingFill)
{
    // Three nested squares: ground, a hole in it, ground again in the hole;
    // then the editor's empty last node, and a polygon after it that the
    // walk never reaches.
    auto box = [](double r) {
        auto* p = new Cpolygon();
        p->addVertex(-r, -r);
        p->addVertex(r, -r);
        p->addVertex(r, r);
        p->addVertex(-r, r);
        return p;
    };
    Cpolygons* head = nullptr;
    std::vector<Cpolygons*> nodes = makeList({true, true, true, false, true}, head);
    for (int i = 0; i < 3; ++i) {
        delete nodes[i]->polygon;
        nodes[i]->polygon = box(300.0 - 100.0 * i);
    }
    delete nodes[4]->polygon;
    nodes[4]->polygon = box(1000.0);

    EXPECT_TRUE(insideGround(head, 250.0, 0.0));     // the outer ring
    EXPECT_FALSE(insideGround(head, 150.0, 20.0));   // the hole
    EXPECT_TRUE(insideGround(head, 0.0, 0.0));       // ground inside the hole
    EXPECT_FALSE(insideGround(head, 500.0, 0.0));    // beyond the walk's end
    EXPECT_FALSE(insideGround(head, -350.0, 0.0));
    // On the level of a vertex the ray crosses the outline once, not twice.
    EXPECT_TRUE(insideGround(head, 250.0, 100.0));
    EXPECT_FALSE(insideGround(nullptr, 0.0, 0.0));
    delete head;
}
