// What the editor draws from its polygons, kept between frames: the fill of
// the whole list in a display list, and the results of the checks that read
// every edge. A frame compares the polygons with a copy of what the cache
// was built from and rebuilds only what changed, so the cache needs no word
// from the commands that edit polygons and is never stale.
//
// GL thread only; release() deletes the display list while the editor's
// context is current.
#pragma once

#include "model/Polygon.h"

#include <vector>

class Cmoto;

// A copy of a polygon list's shape: every chain's count and vertices, in
// order. Equal copies draw and test alike.
class CpolygonsCopy {
public:
    // True when `list` (walked to its end, nodes without a polygon
    // included) matches the copy; otherwise the copy becomes `list`.
    bool sameAs(const Cpolygons* list);
    // The same for one polygon.
    bool sameAs(const Cpolygon* polygon);
    void clear() { values_.clear(); valid_ = false; }

private:
    bool compareOrTake(const Cpolygons* list, const Cpolygon* single);
    std::vector<double> values_;
    std::vector<double> scratch_;
    bool valid_ = false;
};

class CeditorDrawCache {
public:
    // Draws the fill of `list` (drawPolygons in the editor's plain colours)
    // from the display list, rebuilt when the polygons changed.
    void drawFill(Cpolygons* list);
    // isValid of the polygon being drawn, rechecked only when it changed.
    bool polygonValid(Cpolygon* polygon);
    // bike.touchesPolygons(list), recomputed only when the polygons (as of
    // the last drawFill) or the bike's balls moved.
    bool bikeTouches(const Cmoto& bike, const Cpolygons* list);
    // Forgets everything and deletes the display list.
    void release();

private:
    CpolygonsCopy fillShape_;
    CpolygonsCopy drawnShape_;
    unsigned int fillList_ = 0;
    bool fillChanged_ = true;
    bool drawnValid_ = false;
    bool touchKnown_ = false;
    bool touches_ = false;
    double bikePlace_[6] = {};
};
