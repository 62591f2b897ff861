#include "model/Apple.h"

#include "physics/Balls.h"

#include "ModelTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<double> xsOf(const Capples* list)
{
    std::vector<double> xs;
    for (; list != nullptr; list = list->next) {
        xs.push_back(list->x);
    }
    return xs;
}

Cball ballAt(double x, double y, double radius)
{
    Cball b(radius);
    b.position.setXY(x, y);
    return b;
}

} // namespace

TEST(Apples, ExactReachIsNotCollected)
{
    // (18, 24) is exactly 30 = 10 + 20 from the origin.
    Capples* list = makeApples({{18, 24}});
    int32_t count = 1;
    list = collectApples(list, ballAt(0, 0, 10), count);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(count, 1);
    list = collectApples(list, ballAt(0, 0.001, 10), count);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0);
}

TEST(Apples, TwoInReachGoInOneCallAndRelink)
{
    Capples* list = makeApples({{500, 0}, {5, 0}, {1000, 0}, {-5, 0}, {2000, 0}});
    int32_t count = 5;
    list = collectApples(list, ballAt(0, 0, 80.0 / 3.0), count);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(xsOf(list), (std::vector<double>{500, 1000, 2000}));
    EXPECT_EQ(list->prev, nullptr);
    EXPECT_EQ(list->next->prev, list);
    EXPECT_EQ(list->next->next->prev, list->next);
    delete list;
}

TEST(Apples, CollectingTheFirstMovesTheHead)
{
    Capples* list = makeApples({{0, 0}, {100, 0}});
    Capples* second = list->next;
    int32_t count = 2;
    list = collectApples(list, ballAt(0, 0, 46.0 / 3.0), count);
    EXPECT_EQ(list, second);
    EXPECT_EQ(list->prev, nullptr);
    EXPECT_EQ(count, 1);
    list = collectApples(list, ballAt(100, 35, 46.0 / 3.0), count);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(collectApples(nullptr, ballAt(0, 0, 10), count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST(Apples, MillionAppleListFreesWithoutRecursion)
{
    auto* head = new Capples();
    Capples* last = head;
    for (int i = 0; i < 1000000; ++i) {
        auto* a = new Capples(i, 0);
        last->next = a;
        a->prev = last;
        last = a;
    }
    delete head;
}
