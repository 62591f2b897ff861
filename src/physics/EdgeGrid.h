// CedgeGrid: the broad phase of the ground contacts. A uniform grid of
// square cells over the edges of a polygon list, so that a ball's contact
// pass tests only the edges near it instead of every edge of the track.
//
// Order is the contract. Every edge has an index in the order in which
// Cball::collidePolygons walks the list (polygon list order, then chain
// order, the closing edge last). A query hands out each candidate once, in
// ascending index order, and the candidates are a superset of the edges
// whose bounding box is not strictly beyond the query rectangle on one side
// (the rule of Cball::edgeOutOfReach). An edge left out would have been
// skipped by the full walk anyway, so a pass over the candidates chooses the
// same contacts, ties and all, and gives the same bits as the full walk.
//
// Why a grid: the balls are small and about the same size, so a ball's
// square touches at most four cells of a cell at least a wheel wide; a cell's
// list, filled in index order, is already sorted, and a query only merges a
// few sorted lists. Cell bounds come from one monotone function of a
// coordinate for edges and queries alike, so rounding can never drop an
// edge that the full walk would look at.
//
// Bounded memory: the grid covers the finite edges inside the `bounds` given
// to build (the playing field); a coordinate outside falls into the border
// cells, a NaN coordinate makes the edge span its whole axis, as does a NaN
// in a query. An edge whose box would cover more than kMaxCellsPerEdge cells
// goes into one list that every query merges instead. There are no more
// cells than about one per edge, so memory grows linearly with the edges.
// When a query would merge more entries than a full walk visits (edges piled
// into a few cells), it walks every edge in order instead.
//
// Ownership: build copies the vertex coordinates; the grid keeps no pointer
// into the list. Queries allocate nothing and may run on any thread while no
// build or clear runs.
#pragma once

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

    // The smallest cell side, in world units: a little more than a wheel's
    // diameter, so a wheel's square covers at most two cells each way.
    static constexpr double kMinCellSize = 64.0;
    static constexpr int kMaxCellsPerEdge = 64;
    // A query that covers more cells than this walks every edge.
    static constexpr int kMaxMergedLists = 16;

    // Replaces the grid with one over the edges of `list`, walked like
    // Cball::collidePolygons: along `next` until a node without a polygon.
    void build(const Cpolygons* list, const Bounds& bounds);
    // Drops every edge and gives the memory back.
    void clear();

    size_t edgeCount() const { return edges_.size(); }
    const Edge& edge(uint32_t index) const { return edges_[index]; }

    // Calls visit(index) for the candidate edges of the rectangle, each once,
    // in ascending index order, until visit returns true.
    template <typename Visit>
    void visitCandidates(double left, double right, double bottom, double top, Visit&& visit) const;

    // The contact pass of `ball` over the candidates of its bounding square:
    // the same result and the same contact state as
    // ball.collidePolygons(list, testOnly) on the list the grid was built from.
    bool collide(const Cball& ball, bool testOnly) const;

private:
    struct Range {
        int lo = 0;
        int hi = 0;
    };
    Range columns(double lo, double hi) const;
    Range rows(double lo, double hi) const;

    std::vector<Edge> edges_;
    std::vector<uint32_t> cellStart_;   // cell c holds cellEdges_[cellStart_[c] .. cellStart_[c + 1])
    std::vector<uint32_t> cellEdges_;
    std::vector<uint32_t> wideEdges_;   // edges that every query merges
    double originX_ = 0.0;
    double originY_ = 0.0;
    double inverseCell_ = 0.0;
    int columns_ = 0;
    int rows_ = 0;
};

template <typename Visit>
void CedgeGrid::visitCandidates(double left, double right, double bottom, double top, Visit&& visit) const
{
    const uint32_t count = static_cast<uint32_t>(edges_.size());
    if (count == 0) {
        return;
    }
    const Range xs = columns(left, right);
    const Range ys = rows(bottom, top);
    const int cells = (xs.hi - xs.lo + 1) * (ys.hi - ys.lo + 1);

    const uint32_t* head[kMaxMergedLists + 1];
    const uint32_t* end[kMaxMergedLists + 1];
    int lists = 0;
    size_t entries = 0;
    if (cells <= kMaxMergedLists) {
        for (int y = ys.lo; y <= ys.hi; ++y) {
            for (int x = xs.lo; x <= xs.hi; ++x) {
                const size_t cell = static_cast<size_t>(y) * static_cast<size_t>(columns_) + static_cast<size_t>(x);
                const uint32_t first = cellStart_[cell];
                const uint32_t last = cellStart_[cell + 1];
                if (first != last) {
                    head[lists] = cellEdges_.data() + first;
                    end[lists] = cellEdges_.data() + last;
                    entries += last - first;
                    ++lists;
                }
            }
        }
        if (!wideEdges_.empty()) {
            head[lists] = wideEdges_.data();
            end[lists] = wideEdges_.data() + wideEdges_.size();
            entries += wideEdges_.size();
            ++lists;
        }
    }
    if (cells > kMaxMergedLists || entries >= count) {
        for (uint32_t index = 0; index < count; ++index) {
            if (visit(index)) {
                return;
            }
        }
        return;
    }
    if (lists == 1) {
        for (const uint32_t* p = head[0]; p != end[0]; ++p) {
            if (visit(*p)) {
                return;
            }
        }
        return;
    }
    // Merge the sorted lists; an edge found in several cells comes once.
    while (lists > 0) {
        uint32_t next = *head[0];
        for (int i = 1; i < lists; ++i) {
            if (*head[i] < next) {
                next = *head[i];
            }
        }
        if (visit(next)) {
            return;
        }
        for (int i = 0; i < lists;) {
            if (*head[i] == next && ++head[i] == end[i]) {
                --lists;
                head[i] = head[lists];
                end[i] = end[lists];
            } else {
                ++i;
            }
        }
    }
}
