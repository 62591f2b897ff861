// What the editor draws from its polygons, kept between frames, one entry
// per polygon: the triangles of the polygon's fill, its outline as a
// display list of the tessellator's boundary, and the results of the checks
// that read its edges (the shape test, and whether the bike at the start
// touches it).
//
// Each frame, update() compares every polygon of the list with the copy its
// entry was built from and rebuilds only the entries whose polygon changed,
// so no editing command (nor undo or redo) has to report a change and no
// entry can go stale. Polygons that left the list lose their entries.
//
// The fill: all polygons as one under the odd winding rule. With a stencil
// buffer, each polygon's triangles invert the stencil, so a pixel ends odd
// where the outlines wind around it an odd number of times, which is
// exactly the region the tessellator fills; one rectangle then colours the
// odd pixels once, with the same blending the tessellated triangles get.
// The triangles lie within their polygon's box, so polygons outside the
// view are skipped. Without a
// stencil buffer the whole list is tessellated into one display list,
// rebuilt when a polygon changed.
//
// The picture: what these three layers (the world's outline, the fill, the
// active polygon's outline) drew last is kept as a texture. A frame with the
// same view copies it back, pixel for pixel, and draws the layers again only
// within the box of what changed since (the old and the new place of a
// changed polygon, widened by the lines' width), under a scissor; that box
// then goes back into the picture.
//
// GL thread only, with the editor's context current; release() deletes the
// display lists and the texture (call it before that context goes).
#pragma once

#include "model/Polygon.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

class Cmoto;

class CeditorDrawCache {
public:
    // Brings the entries in line with `list` (walked to its end). Call once
    // per drawn frame, before the other calls.
    void update(Cpolygons* list);
    // The ground of the editor's picture, on the cleared buffer: the outline
    // of `world` in its colour, the fill of `list` in grey and, when
    // `active` is not none, the green outline of that polygon of the list.
    // (left, right, bottom, top) is the view in world units, width x height
    // the window in pixels.
    void drawGround(Cpolygon* world, Cpolygons* list, Cpolygon* active, double left, double right, double bottom,
                    double top, int width, int height);
    // Text drawn over the picture in white at `alpha` by `print` (which
    // draws it in the current colour), kept as a mask: the same pixels get
    // the same colour. The mask is made at the start of a frame, before
    // anything else is drawn (prepareText), and redrawn only when the view
    // or the text changed; `key` names the text.
    void prepareText(int key, void (*print)(), double left, double right, double bottom, double top, int width,
                     int height);
    void drawText(int key, void (*print)(), float alpha);
    // isValid of a polygon of the list, rechecked only when it changed.
    bool polygonValid(Cpolygon* polygon);
    // bike.touchesPolygons(list): each polygon is tested again only when it
    // changed or the bike's balls moved.
    bool bikeTouches(const Cmoto& bike, const Cpolygons* list);
    // Forgets everything and deletes the display lists and the picture.
    void release();

    // False: draw the ground as it was drawn before there was a cache (the
    // whole list tessellated every frame); the tests' reference.
    static bool enabled;

private:
    struct Box {
        double left = 0.0;
        double right = 0.0;
        double bottom = 0.0;
        double top = 0.0;
        bool empty = true;
        void add(double x, double y);
        void add(const Box& b);
        bool meets(const Box& b) const;
    };
    struct Entry {
        std::vector<double> shape;   // count, then x and y of every vertex, bit copies
        std::vector<float> triangles;   // the fill's, x and y of each vertex
        unsigned int outline = 0;
        Box box;                     // of the drawable vertices
        bool line = false;           // one placed vertex: a line to the mouse vertex
        double lineEnds[4] = {};
        bool pictured = false;       // the picture shows this shape
        int8_t valid = -1;           // -1: not known
        int8_t touches = -1;
        uint64_t seen = 0;
    };

    static Box widened(const Box& box, double perX, double perY);
    static Box viewBox(double left, double right, double bottom, double top, int width, int height);
    Entry* find(const Cpolygon* polygon);
    void rebuild(Entry& entry, const Cpolygon* polygon);
    void drawLayers(Cpolygon* world, Cpolygons* list, Cpolygon* active, const Box& region);
    void drawFill(Cpolygons* list, const Box& region);
    void drawOutline(Cpolygon* polygon);
    void drawTessellated(Cpolygons* list);

    std::unordered_map<const Cpolygon*, Entry> entries_;
    uint64_t frame_ = 0;
    Box gone_;                       // where pictured shapes no longer are
    unsigned int tessellated_ = 0;   // the whole fill, without a stencil buffer
    bool tessellatedStale_ = true;
    int stencilBits_ = -1;           // -1: not asked yet
    double bikePlace_[6] = {};
    bool bikeKnown_ = false;

    // The picture of the ground as last drawn, and what it was drawn for.
    unsigned int picture_ = 0;
    double pictureView_[4] = {};
    int pictureSize_[2] = {};
    const Cpolygon* pictureActive_ = nullptr;
    Box pictureActiveBox_;
    std::vector<Cvector> outlineScratch_;   // reused by rebuild()
    // The text's mask and what it was made for (key 0: none).
    unsigned int textMask_ = 0;
    int textKey_ = 0;
    double textView_[4] = {};
    int textSize_[2] = {};
    int textBox_[4] = {};            // pixels x0, y0, x1, y1 that the text covers
    int lastSize_[2] = {};
    int sameSizeFrames_ = 0;
};
