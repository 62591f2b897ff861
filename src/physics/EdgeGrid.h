// CedgeGrid: the broad phase of the ground contacts. A uniform grid of
// square cells over the edges of a polygon list, so that a ball's contact
// pass tests only the edges near it instead of every edge of the track.
//
// Order is the contract. Every edge has an index in the order in which
// Cball::collidePolygons walks the list (polygon list order, then chain
// order, the closing edge last). A query hands out each candidate once, in
// ascending index order, and the candidates are a superset of the edges
// that Cball::edgeOutOfReach does not reject for the ball. An edge left out
// would have been skipped by the full walk anyway, so a pass over the
// candidates chooses the same contacts, ties and all, and gives the same
// bits as the full walk.
//
// Why a grid: the balls are small and about the same size, and the track is
// fixed for a run. Each cell lists every edge whose box, widened by `reach`
// (at least the largest ball radius), overlaps the cell, so a ball needs the
// one list of the cell under its centre: no search, no tree, and a list
// filled in index order is already sorted. Cell bounds for edges and balls
// come from one monotone function of a coordinate, and the widening is a
// whole unit more than any radius, so rounding can never drop an edge that
// the full walk would look at.
//
// Bounded memory: the grid divides the finite coordinates inside the
// `bounds` given to build (the playing field); a coordinate outside is
// clamped to them, a NaN coordinate makes the edge span its whole axis. An
// edge that would cover more than kMaxCellsPerEdge cells goes into one list
// that every query merges instead. There are no more cells than about one per
// edge, so memory grows linearly with the edges. When a cell's list is longer
// than the track (edges piled into a few cells), the query walks every edge
// in order instead, and so does a ball wider than `reach` or with a NaN centre.
//
// Ownership: build copies the vertex coordinates; the grid keeps no pointer
// into the list. Queries allocate nothing and may run on any thread while no
// build or clear runs.
#pragma once

#include "model/Apple.h"
#include "model/Polygon.h"
#include "model/Vectors.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class Cball;

class CedgeGrid {
public:
    struct Edge {
        Cvector a;
        Cvector b;
    };
    struct Bounds {
        double left = 0.0;
        double right = 0.0;
        double bottom = 0.0;
        double top = 0.0;
    };

    // The smallest cell side, in world units.
    static constexpr double kMinCellSize = 64.0;
    static constexpr int kMaxCellsPerEdge = 64;

    // Replaces the grid with one over the edges of `list`, walked like
    // Cball::collidePolygons: along `next` until a node without a polygon.
    // Queries of balls up to `reach` in radius use the grid.
    void build(const Cpolygons* list, const Bounds& bounds, double reach);
    // The same over the apples of `list`, each an edge of length zero at the
    // apple's centre, in list order.
    void buildPoints(const Capples* list, const Bounds& bounds, double reach);
    // Drops every edge and gives the memory back.
    void clear();

    size_t edgeCount() const { return edges_.size(); }
    const Edge& edge(uint32_t index) const { return edges_[index]; }

    // Calls visit(index) for the candidate edges of a ball at `centre` with
    // `radius`, each once, in ascending index order, until visit returns true.
    template <typename Visit>
    void visitCandidates(const Cvector& centre, double radius, Visit&& visit) const;

    // Appends to `out` every edge listed in the cells that the box (world
    // units) reaches, and every edge that all queries merge: a superset of
    // the edges whose box meets it, unordered and possibly repeated.
    void candidatesInBox(const Bounds& box, std::vector<uint32_t>& out) const;

    // The contact pass of `ball` over its candidates:
    // the same result and the same contact state as
    // ball.collidePolygons(list, testOnly) on the list the grid was built from.
    bool collide(const Cball& ball, bool testOnly) const;

private:
    struct Range {
        int lo = 0;
        int hi = 0;
    };
    // The cells of a coordinate span widened by reach_ on both sides.
    Range columns(double lo, double hi) const;
    Range rows(double lo, double hi) const;
    // Divides the edges already in edges_ into cells.
    void divide(const Bounds& bounds, double reach);
    // The cell under a ball's centre; -1 when the ball needs every edge.
    long cellUnder(const Cvector& centre, double radius) const;

    std::vector<Edge> edges_;
    std::vector<uint32_t> cellStart_;   // cell c holds cellEdges_[cellStart_[c] .. cellStart_[c + 1])
    std::vector<uint32_t> cellEdges_;
    std::vector<uint32_t> wideEdges_;   // edges that every query merges
    Bounds area_;
    double reach_ = 0.0;
    double originX_ = 0.0;
    double originY_ = 0.0;
    double inverseCell_ = 0.0;
    int columns_ = 0;
    int rows_ = 0;
};

template <typename Visit>
void CedgeGrid::visitCandidates(const Cvector& centre, double radius, Visit&& visit) const
{
    const uint32_t count = static_cast<uint32_t>(edges_.size());
    if (count == 0) {
        return;
    }
    const long cell = cellUnder(centre, radius);
    const uint32_t* p = nullptr;
    const uint32_t* end = nullptr;
    if (cell >= 0) {
        p = cellEdges_.data() + cellStart_[static_cast<size_t>(cell)];
        end = cellEdges_.data() + cellStart_[static_cast<size_t>(cell) + 1];
    }
    if (cell < 0 || static_cast<size_t>(end - p) + wideEdges_.size() >= count) {
        for (uint32_t index = 0; index < count; ++index) {
            if (visit(index)) {
                return;
            }
        }
        return;
    }
    // The cell's list with the wide edges merged in.
    const uint32_t* wide = wideEdges_.data();
    const uint32_t* wideEnd = wide + wideEdges_.size();
    for (; p != end; ++p) {
        for (; wide != wideEnd && *wide < *p; ++wide) {
            if (visit(*wide)) {
                return;
            }
        }
        if (visit(*p)) {
            return;
        }
    }
    for (; wide != wideEnd; ++wide) {
        if (visit(*wide)) {
            return;
        }
    }
}
