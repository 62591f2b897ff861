// CedgeGrid: the broad phase of the ground contacts. Grids of cells over the
// edges of a polygon list, so that a ball's contact pass tests only the
// edges near it instead of every edge of the track.
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
// list of the cell under its centre: no search, no tree, and a list filled
// in index order is already sorted. Cell bounds for edges and balls
// come from one monotone function of a coordinate, and the widening is a
// whole unit more than any radius, so rounding can never drop an edge that
// the full walk would look at.
//
// Levels. One grid cannot serve edges of every length: a cell fine enough
// for the small edges around the bike would have a long edge in thousands of
// cells. So the grid is a family of levels over the same area, the cell's
// width growing fourfold from one level to the next and, independently, its
// height: level (i, j) has cells kLevelGrowth^i base cells wide and
// kLevelGrowth^j high, up to the level that has at most kMaxCellsPerAxis
// cells across the area. Each edge lives in one level only: the base level
// when its widened box covers at most kMaxBaseCellsPerEdge cells there (the
// edges of the usual tracks), else the finest whose cells it covers at most
// kMaxCellsPerAxis of on either axis: a flat edge across the world keeps
// cells as low as a small one's. A
// query takes the one cell under the centre in each level that holds edges
// and merges their lists (no edge is in two levels, so the merge is strictly
// ascending).
//
// What a query costs: an edge of the base level covers at most 64 cells;
// an edge of level (i, j) with i > 0 covered more than
// kMaxCellsPerAxis cells of level i - 1 across, so its widened box is wider
// than seven of those cells, 7/4 of a cell of its own level. An edge listed
// in the cell under the centre is thus never further from the centre across
// than 4/7 of its own width (or one base cell, in the base level), and
// likewise up and down: a query meets the edges near the ball, measured by
// their own size, and never an edge far away for being long. A query looks
// at one cell in each level that holds edges, skipping a level whose edges
// all lie elsewhere, and at most kMaxLevels are merged, each candidate
// costing a comparison per list.
//
// Bounded memory: an edge fills at most kMaxCellsPerAxis^2 = 64 cells, so
// the lists hold at most 256 bytes an edge, 4 to 16 for edges short beside
// a cell; the base level has about one cell per edge (none smaller than
// kMinCellSize), and all levels together at most about 16/9 of the base's
// cells. The grid divides the finite coordinates inside the `bounds` given
// to build (the playing field); a coordinate outside is clamped to them, a
// NaN coordinate makes the edge span its whole axis (and so lie in the
// coarsest level of that axis). When the lists of a query are together as
// long as the track (edges piled into a few cells), the query walks every
// edge in order instead, and so does a ball wider than `reach` or with a NaN
// centre.
//
// Ownership: build copies the vertex coordinates; the grid keeps no pointer
// into the list. Queries allocate nothing and may run on any thread while no
// build or clear runs.
#pragma once

#include "model/Apple.h"
#include "model/Polygon.h"
#include "model/Vectors.h"

#include <cmath>
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
    // The most cells an edge covers in the base level, and across, or up
    // and down, in a coarser one.
    static constexpr int kMaxBaseCellsPerEdge = 64;
    static constexpr int kMaxCellsPerAxis = 8;
    static constexpr int kLevelGrowth = 4;
    // Levels per axis: the base has at most 4096 cells across, and 4096
    // divided by 4 five times is at most kMaxCellsPerAxis.
    static constexpr int kMaxAxisLevels = 6;
    static constexpr int kMaxLevels = kMaxAxisLevels * kMaxAxisLevels;

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
    // units) reaches, in every level: a superset of the edges whose box
    // meets it, unordered and possibly repeated.
    void candidatesInBox(const Bounds& box, std::vector<uint32_t>& out) const;

    // The contact pass of `ball` over its candidates:
    // the same result and the same contact state as
    // ball.collidePolygons(list, testOnly) on the list the grid was built from.
    bool collide(const Cball& ball, bool testOnly) const;

    // The levels that hold edges, and the entries of all their cells (an
    // edge counts once for each cell it is listed in): for tests and
    // measurements.
    int levelCount() const { return static_cast<int>(levels_.size()); }
    size_t cellEntryCount() const { return cellEdges_.size(); }

    // One cell's list: edges [begin, end). Left uninitialised in a
    // query's array, which is filled as far as it is used.
    struct Span {
        const uint32_t* begin;
        const uint32_t* end;
    };

private:
    struct Range {
        int lo = 0;
        int hi = 0;
    };
    // One axis of one level: its cells' count and inverse size.
    struct Axis {
        double inverse = 0.0;
        int count = 0;
    };
    // A level that holds edges: its axes (copied, for the queries), and
    // where its cells start in cellStart_ (cell (x, y) is
    // firstCell + y * columns + x).
    struct Level {
        Axis across;
        Axis upDown;
        // The union of its edges' widened, clamped spans: a centre outside
        // meets none of them (the same argument as for the cells).
        Bounds reached{INFINITY, -INFINITY, INFINITY, -INFINITY};
        int i = 0;
        int j = 0;
        uint32_t firstCell = 0;
    };
    // The cells of a coordinate span widened by reach_ on both sides.
    Range columns(double lo, double hi, const Axis& axis) const;
    Range rows(double lo, double hi, const Axis& axis) const;
    // The level of an edge: the finest whose cells its widened box covers at
    // most kMaxCellsPerAxis of on either axis, with its cells there.
    void place(const Edge& e, int& i, int& j, Range& xs, Range& ys) const;
    // The cell of coordinate v, clamped to [0, count - 1]. Monotone in v
    // (each operation rounds monotonically), which is what makes the grid
    // exact: an edge end at or before a query side never lands in a later
    // cell than it.
    static int cellOfCoordinate(double v, double origin, double inverse, int count)
    {
        const double c = (v - origin) * inverse;
        if (!(c > 0.0)) {
            return 0;
        }
        if (c >= static_cast<double>(count - 1)) {
            return count - 1;
        }
        return static_cast<int>(c);
    }
    static double clampCoordinate(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }
    // Divides the edges already in edges_ into cells.
    void divide(const Bounds& bounds, double reach);
    // The lists of the cells under a ball's centre, one for each level with
    // edges there, into `spans`; -1 when the ball needs every edge instead.
    int listsUnder(const Cvector& centre, double radius, Span* spans) const;
    // The list of the level's cell under (x, y), a point inside the area.
    Span cellList(const Level& level, double x, double y) const
    {
        const int column = cellOfCoordinate(x, originX_, level.across.inverse, level.across.count);
        const int row = cellOfCoordinate(y, originY_, level.upDown.inverse, level.upDown.count);
        const size_t cell = level.firstCell + static_cast<size_t>(row) * static_cast<size_t>(level.across.count) +
                            static_cast<size_t>(column);
        const uint32_t* entries = cellEdges_.data();
        return Span{entries + cellStart_[cell], entries + cellStart_[cell + 1]};
    }
    static bool outside(const Bounds& b, double x, double y)
    {
        return x < b.left || x > b.right || y < b.bottom || y > b.top;
    }
    // visitCandidates where the centre meets edges in three levels or more:
    // a merge of any number of lists, kept out of line so that the usual
    // query needs no array of them.
    template <typename Visit>
    [[gnu::noinline]] void visitMerged(const Cvector& centre, double radius, Visit& visit) const;
    template <typename Visit>
    void visitAll(Visit& visit) const;

    std::vector<Edge> edges_;
    std::vector<Level> levels_;         // finest first
    std::vector<uint32_t> cellStart_;   // cell c holds cellEdges_[cellStart_[c] .. cellStart_[c + 1])
    std::vector<uint32_t> cellEdges_;
    Axis xAxes_[kMaxAxisLevels];
    Axis yAxes_[kMaxAxisLevels];
    int xLevels_ = 0;
    int yLevels_ = 0;
    Bounds area_;
    double reach_ = 0.0;
    double originX_ = 0.0;
    double originY_ = 0.0;
};

// Why the centre's cell is enough, in each level: edgeOutOfReach keeps an
// edge only when its lowest x is at most x + radius (and so on for the other
// sides). Inside the area, coordinates are small enough that the rounding of
// x + radius is far below the unit by which reach_ exceeds any radius, so the
// edge's widened, clamped span reaches over x; outside the area the centre
// clamps to the border and the edge's span reaches the border too. The
// level's cells come from the same monotone cellOf for edges and centres.
inline int CedgeGrid::listsUnder(const Cvector& centre, double radius, Span* spans) const
{
    if (!(radius <= reach_ - 1.0) || std::isnan(centre.x) || std::isnan(centre.y)) {
        return -1;
    }
    const double x = clampCoordinate(centre.x, area_.left, area_.right);
    const double y = clampCoordinate(centre.y, area_.bottom, area_.top);
    int lists = 0;
    size_t total = 0;
    for (const Level& level : levels_) {
        if (outside(level.reached, x, y)) {
            continue;
        }
        const Span list = cellList(level, x, y);
        if (list.begin != list.end) {
            spans[lists++] = list;
            total += static_cast<size_t>(list.end - list.begin);
        }
    }
    return total >= edges_.size() ? -1 : lists;
}

template <typename Visit>
void CedgeGrid::visitAll(Visit& visit) const
{
    const uint32_t count = static_cast<uint32_t>(edges_.size());
    for (uint32_t index = 0; index < count; ++index) {
        if (visit(index)) {
            return;
        }
    }
}

// The usual query meets one or two lists (the small edges, and the long ones
// of the outline) and keeps them in registers; a third sends it to the
// general merge, which starts again from listsUnder.
template <typename Visit>
void CedgeGrid::visitCandidates(const Cvector& centre, double radius, Visit&& visit) const
{
    if (edges_.empty()) {
        return;
    }
    if (!(radius <= reach_ - 1.0) || std::isnan(centre.x) || std::isnan(centre.y)) {
        visitAll(visit);
        return;
    }
    const double x = clampCoordinate(centre.x, area_.left, area_.right);
    const double y = clampCoordinate(centre.y, area_.bottom, area_.top);
    if (levels_.size() == 1) {
        // The usual track: one level, one list, no merge.
        const Span list = cellList(levels_.front(), x, y);
        const uint32_t* p = list.begin;
        const uint32_t* const end = list.end;
        if (static_cast<size_t>(end - p) >= edges_.size()) {
            visitAll(visit);
            return;
        }
        for (; p != end; ++p) {
            if (visit(*p)) {
                return;
            }
        }
        return;
    }
    const uint32_t* p = nullptr;
    const uint32_t* end = nullptr;
    const uint32_t* q = nullptr;
    const uint32_t* qEnd = nullptr;
    for (const Level& level : levels_) {
        if (outside(level.reached, x, y)) {
            continue;
        }
        const Span list = cellList(level, x, y);
        if (list.begin == list.end) {
            continue;
        }
        if (p == nullptr) {
            p = list.begin;
            end = list.end;
        } else if (q == nullptr) {
            q = list.begin;
            qEnd = list.end;
        } else {
            visitMerged(centre, radius, visit);
            return;
        }
    }
    if (static_cast<size_t>(end - p) + static_cast<size_t>(qEnd - q) >= edges_.size()) {
        visitAll(visit);
        return;
    }
    for (; p != end; ++p) {
        for (; q != qEnd && *q < *p; ++q) {
            if (visit(*q)) {
                return;
            }
        }
        if (visit(*p)) {
            return;
        }
    }
    for (; q != qEnd; ++q) {
        if (visit(*q)) {
            return;
        }
    }
}

template <typename Visit>
void CedgeGrid::visitMerged(const Cvector& centre, double radius, Visit& visit) const
{
    Span spans[kMaxLevels];
    int lists = listsUnder(centre, radius, spans);
    if (lists < 0) {
        visitAll(visit);
        return;
    }
    // Each step hands out the smallest head of the lists; a list that runs
    // out gives its place to the last one.
    while (lists > 1) {
        int least = 0;
        for (int k = 1; k < lists; ++k) {
            if (*spans[k].begin < *spans[least].begin) {
                least = k;
            }
        }
        const uint32_t index = *spans[least].begin++;
        if (spans[least].begin == spans[least].end) {
            spans[least] = spans[--lists];
        }
        if (visit(index)) {
            return;
        }
    }
    if (lists == 1) {
        for (const uint32_t* r = spans[0].begin; r != spans[0].end; ++r) {
            if (visit(*r)) {
                return;
            }
        }
    }
}
