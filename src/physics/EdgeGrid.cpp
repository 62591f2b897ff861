#include "physics/EdgeGrid.h"

#include "physics/Balls.h"
#include "model/SquareRoot.h"

#include <algorithm>
#include <cmath>

namespace {

// Grids of more edges than this are one cell: cell entries stay within 32 bits.
constexpr size_t kMaxGridEdges = 16000000;
constexpr int kMaxCellsPerAxis = 4096;

// The cell of coordinate v, clamped to [0, count - 1]. Monotone in v (each
// operation rounds monotonically), which is what makes the grid exact: an
// edge end at or before a query side never lands in a later cell than it.
int cellOf(double v, double origin, double inverse, int count)
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

double clampTo(double v, double lo, double hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

CedgeGrid::Range CedgeGrid::columns(double lo, double hi) const
{
    if (std::isnan(lo) || std::isnan(hi)) {
        return {0, columns_ - 1};
    }
    return {cellOf(clampTo(lo, area_.left, area_.right) - reach_, originX_, inverseCell_, columns_),
            cellOf(clampTo(hi, area_.left, area_.right) + reach_, originX_, inverseCell_, columns_)};
}

CedgeGrid::Range CedgeGrid::rows(double lo, double hi) const
{
    if (std::isnan(lo) || std::isnan(hi)) {
        return {0, rows_ - 1};
    }
    return {cellOf(clampTo(lo, area_.bottom, area_.top) - reach_, originY_, inverseCell_, rows_),
            cellOf(clampTo(hi, area_.bottom, area_.top) + reach_, originY_, inverseCell_, rows_)};
}

// Why the centre's cell is enough: edgeOutOfReach keeps an edge only when
// its lowest x is at most x + radius (and so on for the other sides). Inside
// the area, coordinates are small enough that the rounding of x + radius is
// far below the unit by which reach_ exceeds any radius, so the edge's
// widened, clamped span reaches over x; outside the area the centre clamps to
// the border and the edge's span reaches the border too.
long CedgeGrid::cellUnder(const Cvector& centre, double radius) const
{
    if (!(radius <= reach_ - 1.0) || std::isnan(centre.x) || std::isnan(centre.y)) {
        return -1;
    }
    const int x = cellOf(clampTo(centre.x, area_.left, area_.right), originX_, inverseCell_, columns_);
    const int y = cellOf(clampTo(centre.y, area_.bottom, area_.top), originY_, inverseCell_, rows_);
    return static_cast<long>(y) * columns_ + x;
}

void CedgeGrid::build(const Cpolygons* list, const Bounds& bounds, double reach)
{
    edges_.clear();
    for (const Cpolygons* node = list; node != nullptr && node->polygon != nullptr; node = node->next) {
        const Cvertex* first = node->polygon->first;
        for (const Cvertex* a = first; a != nullptr; a = a->next) {
            const Cvertex* b = a->next != nullptr ? a->next : first;
            edges_.push_back(Edge{Cvector(a->x, a->y), Cvector(b->x, b->y)});
        }
    }
    divide(bounds, reach);
}

void CedgeGrid::buildPoints(const Capples* list, const Bounds& bounds, double reach)
{
    edges_.clear();
    for (const Capples* apple = list; apple != nullptr; apple = apple->next) {
        edges_.push_back(Edge{Cvector(apple->x, apple->y), Cvector(apple->x, apple->y)});
    }
    divide(bounds, reach);
}

void CedgeGrid::divide(const Bounds& bounds, double reach)
{

    // The area worth dividing: the finite coordinates, inside the bounds.
    double minX = INFINITY;
    double maxX = -INFINITY;
    double minY = INFINITY;
    double maxY = -INFINITY;
    for (const Edge& e : edges_) {
        for (const Cvector* v : {&e.a, &e.b}) {
            if (std::isfinite(v->x)) {
                minX = std::min(minX, v->x);
                maxX = std::max(maxX, v->x);
            }
            if (std::isfinite(v->y)) {
                minY = std::min(minY, v->y);
                maxY = std::max(maxY, v->y);
            }
        }
    }
    minX = std::clamp(minX, bounds.left, bounds.right);
    maxX = std::clamp(maxX, minX, bounds.right);
    minY = std::clamp(minY, bounds.bottom, bounds.top);
    maxY = std::clamp(maxY, minY, bounds.top);
    const double width = maxX - minX;
    const double height = maxY - minY;

    // About one cell per edge, none smaller than a wheel.
    double cell = kMinCellSize;
    if (!edges_.empty()) {
        cell = std::max(cell, vmath::sqrt(width * height / static_cast<double>(edges_.size())));
    }
    cell = std::max({cell, width / kMaxCellsPerAxis, height / kMaxCellsPerAxis});
    area_ = {minX, maxX, minY, maxY};
    reach_ = reach + 1.0;
    originX_ = minX;
    originY_ = minY;
    inverseCell_ = 1.0 / cell;
    columns_ = std::clamp(static_cast<int>(std::ceil(width / cell)), 1, kMaxCellsPerAxis);
    rows_ = std::clamp(static_cast<int>(std::ceil(height / cell)), 1, kMaxCellsPerAxis);
    if (edges_.size() > kMaxGridEdges) {
        columns_ = 1;
        rows_ = 1;
    }

    // Two passes: count each cell's edges, then fill the cells in index
    // order, which leaves every cell's list sorted.
    const size_t cellCount = static_cast<size_t>(columns_) * static_cast<size_t>(rows_);
    cellStart_.assign(cellCount + 1, 0);
    wideEdges_.clear();
    auto covers = [this](const Edge& e, Range& xs, Range& ys) {
        xs = columns(std::min(e.a.x, e.b.x), std::max(e.a.x, e.b.x));
        ys = rows(std::min(e.a.y, e.b.y), std::max(e.a.y, e.b.y));
        if (std::isnan(e.a.x) || std::isnan(e.b.x)) {
            xs = {0, columns_ - 1};
        }
        if (std::isnan(e.a.y) || std::isnan(e.b.y)) {
            ys = {0, rows_ - 1};
        }
        return columns_ * rows_ == 1 || (xs.hi - xs.lo + 1) * (ys.hi - ys.lo + 1) <= kMaxCellsPerEdge;
    };
    Range xs;
    Range ys;
    for (const Edge& e : edges_) {
        if (covers(e, xs, ys)) {
            for (int y = ys.lo; y <= ys.hi; ++y) {
                for (int x = xs.lo; x <= xs.hi; ++x) {
                    ++cellStart_[static_cast<size_t>(y) * columns_ + x + 1];
                }
            }
        }
    }
    for (size_t c = 0; c < cellCount; ++c) {
        cellStart_[c + 1] += cellStart_[c];
    }
    cellEdges_.assign(cellStart_[cellCount], 0);
    std::vector<uint32_t> fill(cellStart_.begin(), cellStart_.end() - 1);
    for (uint32_t index = 0; index < edges_.size(); ++index) {
        if (!covers(edges_[index], xs, ys)) {
            wideEdges_.push_back(index);
            continue;
        }
        for (int y = ys.lo; y <= ys.hi; ++y) {
            for (int x = xs.lo; x <= xs.hi; ++x) {
                cellEdges_[fill[static_cast<size_t>(y) * columns_ + x]++] = index;
            }
        }
    }
}

void CedgeGrid::clear()
{
    edges_ = {};
    cellStart_ = {};
    cellEdges_ = {};
    wideEdges_ = {};
    columns_ = 0;
    rows_ = 0;
}

bool CedgeGrid::collide(const Cball& ball, bool testOnly) const
{
    bool result = false;
    visitCandidates(ball.position, ball.radius, [&](uint32_t index) {
        const Edge& e = edges_[index];
        const bool near = !ball.edgeOutOfReach(e.a, e.b) && ball.edgeInReach(e.a, e.b);
        bool hit = near;
        if (near && !testOnly) {
            hit = ball.collideEdge(e.a, e.b);
        }
        result = result || hit;
        return testOnly && result;
    });
    return result;
}
