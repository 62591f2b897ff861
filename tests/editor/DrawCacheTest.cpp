// The editor's draw cache sees every change to the polygons that could
// change the picture or a check, and no change where there is none.
#include "editor/DrawCache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

TEST(DrawCacheTest, CopyOfThePolygonsNoticesEveryChange)
{
    auto list = std::make_unique<Cpolygons>();
    list->polygon = new Cpolygon;
    list->polygon->addVertex(0.0, 0.0);
    list->polygon->addVertex(100.0, 0.0);
    list->polygon->addVertex(NAN, 100.0);
    auto* empty = new Cpolygons;   // the editor's node for the next polygon
    list->next = empty;
    empty->prev = list.get();

    CpolygonsCopy copy;
    EXPECT_FALSE(copy.sameAs(list.get()));   // nothing copied yet
    EXPECT_TRUE(copy.sameAs(list.get()));    // a NaN equals itself here

    list->polygon->first->next->x = 100.5;   // a vertex moves
    EXPECT_FALSE(copy.sameAs(list.get()));
    EXPECT_TRUE(copy.sameAs(list.get()));

    list->polygon->count = 2;                // only the count changes
    EXPECT_FALSE(copy.sameAs(list.get()));

    empty->polygon = new Cpolygon;           // a polygon is started
    empty->polygon->addVertex(5.0, 5.0);
    EXPECT_FALSE(copy.sameAs(list.get()));
    empty->polygon->addVertex(5.0, 5.0);     // and the mouse vertex joins it
    EXPECT_FALSE(copy.sameAs(list.get()));
    EXPECT_TRUE(copy.sameAs(list.get()));

    // One polygon on its own: the same rules.
    CpolygonsCopy one;
    EXPECT_FALSE(one.sameAs(empty->polygon));
    EXPECT_TRUE(one.sameAs(empty->polygon));
    empty->polygon->first->next->y = 6.0;
    EXPECT_FALSE(one.sameAs(empty->polygon));
    one.clear();
    EXPECT_FALSE(one.sameAs(empty->polygon));
}
