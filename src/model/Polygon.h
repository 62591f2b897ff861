// The ground of a track: vertex chains, polygons and the doubly linked list
// of polygons.
//
// Ownership: a Cvertex owns its `next` (deleting the first vertex deletes
// the chain), a Cpolygon owns its chain, a Cpolygons node owns its polygon
// and every node after it. All freeing is iterative, so chains and lists of
// any length free without deep recursion.
//
// A polygon is closed implicitly (the last vertex joins the first); walks
// follow `next` until the chain ends and never trust `count`.
#pragma once

#include "model/Vectors.h"

#include <cstdint>

class Cvertex : public Cvector {
public:
    Cvertex* next = nullptr;

    Cvertex() = default;
    Cvertex(double ax, double ay) : Cvector(ax, ay) {}
    Cvertex(const Cvertex&) = delete;
    Cvertex& operator=(const Cvertex&) = delete;
    ~Cvertex();
};

class Cpolygon {
public:
    Cvertex* first = nullptr;
    int32_t count = 0;   // placed vertices (the editor's mouse vertex is not counted)

    Cpolygon() = default;
    Cpolygon(const Cpolygon&) = delete;
    Cpolygon& operator=(const Cpolygon&) = delete;
    ~Cpolygon();

    // Appends a vertex at (x, y) and counts it.
    void addVertex(double x, double y);
    // Moves every vertex of the chain by (dx, dy).
    void translate(double dx, double dy);

    // GL drawing and the tessellator-based checks; defined in gfx, not in
    // the core library.
    void tessellate(bool filled, bool standalone);
    bool isValid();
};

class Cpolygons {
public:
    Cpolygon* polygon = nullptr;
    Cpolygons* next = nullptr;
    Cpolygons* prev = nullptr;

    Cpolygons() = default;
    Cpolygons(const Cpolygons&) = delete;
    Cpolygons& operator=(const Cpolygons&) = delete;
    // Frees every following node, then this node's polygon.
    ~Cpolygons();

    // Unlinks `node`, frees it with its polygon, moves `head` on when the
    // first node goes, and returns the following node when it holds a
    // polygon, else the preceding one when it does, else none.
    static Cpolygons* removeNode(Cpolygons* node, Cpolygons*& head);

    // Draws every polygon from `list` on as one tessellated polygon (odd
    // winding). In the game it is compiled once into the display list kept
    // in `listId`. Defined in gfx.
    static void drawPolygons(Cpolygons* list, unsigned int& listId);
};

// True when (x, y) lies in the solid ground that `list` fills: inside an odd
// number of its polygons, as the odd-winding fill draws them. The walk stops
// at the first node without a polygon (the editor's empty last node).
bool insideGround(const Cpolygons* list, double x, double y);
