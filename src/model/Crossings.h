// Whether closed outlines cross or touch: the test that decides, before any
// tessellation, whether a set of polygons is a clean set of simple outlines.
//
// Outlines "meet" when any two of their points coincide, when an edge meets
// another edge anywhere but at the vertex two neighbouring edges share, or
// when two neighbouring edges fold back over each other. These are the
// places where the tessellator would have to make a vertex of its own (and
// on a polygon of random vertices there are about n * n of them, which it
// pays for dearly); outlines that do not meet, or meet in few places, are
// left to the tessellator, which then does little more than sweep over the
// given vertices.
//
// The test is one sweep over the edges ordered by their left ends, with an
// ordered set of the edges the sweep line crosses: O(n log n) for n edges
// in all, whatever the outlines look like, with exact orientation signs, so
// touching and collinear cases are decided exactly. It allocates O(n).
//
// The outlines are taken as the tessellator is given them: vertices with a
// coordinate that is not finite or beyond 1e100 are left out, and an outline
// of fewer than three remaining points (which the tessellator drops) takes
// no part.
#pragma once

#include "model/Polygon.h"
#include "model/Vectors.h"

#include <cstddef>
#include <vector>

// Points of the outlines one after another; contourEnds[i] is one past the
// last point of outline i (ascending, the last equal to points.size()).
bool outlinesMeet(const std::vector<Cvector>& points, const std::vector<size_t>& contourEnds);

// Whether the outlines meet in more than `places` places (an estimate that
// may count a place more than once, never less), or telling it would take
// more than `work` steps: either way the tessellator would pay for many
// crossings. A uniform grid of about one cell per edge holds the edges;
// each cell's edges are compared in pairs, so the work is bounded by
// `work` whatever the outlines.
bool outlinesMeetOften(const std::vector<Cvector>& points, const std::vector<size_t>& contourEnds, size_t places,
                       size_t work);
// The bounds the drawing uses: a thousand places cost the tessellator a few
// milliseconds; a million steps of work stay within a few tens.
inline constexpr size_t kOftenPlaces = 1000;
inline constexpr size_t kOftenWork = 1000000;

// Every polygon of the list from `list` on (nodes without a polygon are
// skipped), each one outline, or the whole chain of one polygon: the
// outlines meet (the sweep) and meet often (outlinesMeetOften with the
// drawing's bounds), so the tessellator is better left out.
bool polygonsMeetOften(const Cpolygons* list);
bool polygonMeetsItselfOften(const Cpolygon* polygon);

// The vertex is one the tessellator is given (see above).
bool drawableVertex(const Cvector& v);
