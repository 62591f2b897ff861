#include "physics/EdgeGrid.h"

#include "physics/Balls.h"
#include "model/SquareRoot.h"

#include <algorithm>
#include <cmath>

namespace {

// Grids of more edges than this are one cell: cell entries stay within 32 bits.
constexpr size_t kMaxGridEdges = 16000000;
constexpr int kMaxBaseCells = 4096;   // across or up and down

}  // namespace

CedgeGrid::Range CedgeGrid::columns(double lo, double hi, const Axis& axis) const
{
    if (std::isnan(lo) || std::isnan(hi)) {
        return {0, axis.count - 1};
    }
    return {cellOfCoordinate(clampCoordinate(lo, area_.left, area_.right) - reach_, originX_, axis.inverse, axis.count),
            cellOfCoordinate(clampCoordinate(hi, area_.left, area_.right) + reach_, originX_, axis.inverse, axis.count)};
}

CedgeGrid::Range CedgeGrid::rows(double lo, double hi, const Axis& axis) const
{
    if (std::isnan(lo) || std::isnan(hi)) {
        return {0, axis.count - 1};
    }
    return {cellOfCoordinate(clampCoordinate(lo, area_.bottom, area_.top) - reach_, originY_, axis.inverse, axis.count),
            cellOfCoordinate(clampCoordinate(hi, area_.bottom, area_.top) + reach_, originY_, axis.inverse, axis.count)};
}

void CedgeGrid::place(const Edge& e, int& i, int& j, Range& xs, Range& ys) const
{
    // A NaN end makes the span NaN (std::min would drop it), which covers
    // the whole axis.
    const double xLo = std::isnan(e.a.x) || std::isnan(e.b.x) ? e.a.x + e.b.x : std::min(e.a.x, e.b.x);
    const double xHi = std::isnan(e.a.x) || std::isnan(e.b.x) ? xLo : std::max(e.a.x, e.b.x);
    const double yLo = std::isnan(e.a.y) || std::isnan(e.b.y) ? e.a.y + e.b.y : std::min(e.a.y, e.b.y);
    const double yHi = std::isnan(e.a.y) || std::isnan(e.b.y) ? yLo : std::max(e.a.y, e.b.y);
    // An edge that the base level holds in a few cells stays there, whatever
    // their shape: the usual tracks then need the base level alone.
    i = 0;
    j = 0;
    xs = columns(xLo, xHi, xAxes_[0]);
    ys = rows(yLo, yHi, yAxes_[0]);
    if ((xs.hi - xs.lo + 1) * (ys.hi - ys.lo + 1) <= kMaxBaseCellsPerEdge) {
        return;
    }
    // The coarsest level of an axis has at most kMaxCellsPerAxis cells, so
    // every edge finds its level.
    for (i = 0; i < xLevels_; ++i) {
        xs = columns(xLo, xHi, xAxes_[i]);
        if (xs.hi - xs.lo < kMaxCellsPerAxis || i + 1 == xLevels_) {
            break;
        }
    }
    for (j = 0; j < yLevels_; ++j) {
        ys = rows(yLo, yHi, yAxes_[j]);
        if (ys.hi - ys.lo < kMaxCellsPerAxis || j + 1 == yLevels_) {
            break;
        }
    }
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

    // About one base cell per edge, none smaller than a wheel.
    double cell = kMinCellSize;
    if (!edges_.empty()) {
        cell = std::max(cell, vmath::sqrt(width * height / static_cast<double>(edges_.size())));
    }
    cell = std::max({cell, width / kMaxBaseCells, height / kMaxBaseCells});
    area_ = {minX, maxX, minY, maxY};
    reach_ = reach + 1.0;
    originX_ = minX;
    originY_ = minY;
    // Each axis's levels, up to the first with at most kMaxCellsPerAxis
    // cells; a cell kLevelGrowth times the size is an exact multiple.
    auto axisLevels = [&](double extent, Axis* axes) {
        int levels = 0;
        double size = cell;
        for (;;) {
            int count = std::clamp(static_cast<int>(std::ceil(extent / size)), 1, kMaxBaseCells);
            if (edges_.size() > kMaxGridEdges) {
                count = 1;
            }
            axes[levels++] = Axis{1.0 / size, count};
            if (count <= kMaxCellsPerAxis || levels == kMaxAxisLevels) {
                return levels;
            }
            size *= kLevelGrowth;
        }
    };
    xLevels_ = axisLevels(width, xAxes_);
    yLevels_ = axisLevels(height, yAxes_);

    // Each edge's level, and the levels that hold edges.
    std::vector<uint8_t> levelOf(edges_.size());
    size_t inLevel[kMaxLevels] = {};
    Range xs;
    Range ys;
    for (size_t index = 0; index < edges_.size(); ++index) {
        int i = 0;
        int j = 0;
        place(edges_[index], i, j, xs, ys);
        levelOf[index] = static_cast<uint8_t>(i * kMaxAxisLevels + j);
        ++inLevel[levelOf[index]];
    }
    levels_.clear();
    int slot[kMaxLevels];
    size_t cellCount = 0;
    for (int i = 0; i < xLevels_; ++i) {
        for (int j = 0; j < yLevels_; ++j) {
            if (inLevel[i * kMaxAxisLevels + j] == 0) {
                continue;
            }
            slot[i * kMaxAxisLevels + j] = static_cast<int>(levels_.size());
            Level level;
            level.across = xAxes_[i];
            level.upDown = yAxes_[j];
            level.i = i;
            level.j = j;
            level.firstCell = static_cast<uint32_t>(cellCount);
            levels_.push_back(level);
            cellCount += static_cast<size_t>(xAxes_[i].count) * static_cast<size_t>(yAxes_[j].count);
        }
    }
    auto cellOfEdge = [&](size_t index, int x, int y) {
        const Level& level = levels_[static_cast<size_t>(slot[levelOf[index]])];
        return level.firstCell + static_cast<size_t>(y) * static_cast<size_t>(xAxes_[level.i].count) +
               static_cast<size_t>(x);
    };

    // Two passes: count each cell's edges, then fill the cells in index
    // order, which leaves every cell's list sorted.
    cellStart_.assign(cellCount + 1, 0);
    for (size_t index = 0; index < edges_.size(); ++index) {
        int i = 0;
        int j = 0;
        place(edges_[index], i, j, xs, ys);
        Bounds& reached = levels_[static_cast<size_t>(slot[levelOf[index]])].reached;
        const Edge& e = edges_[index];
        if (std::isnan(e.a.x) || std::isnan(e.b.x)) {
            reached.left = -INFINITY;
            reached.right = INFINITY;
        } else {
            reached.left = std::min(reached.left, clampCoordinate(std::min(e.a.x, e.b.x), area_.left, area_.right) - reach_);
            reached.right = std::max(reached.right, clampCoordinate(std::max(e.a.x, e.b.x), area_.left, area_.right) + reach_);
        }
        if (std::isnan(e.a.y) || std::isnan(e.b.y)) {
            reached.bottom = -INFINITY;
            reached.top = INFINITY;
        } else {
            reached.bottom =
                std::min(reached.bottom, clampCoordinate(std::min(e.a.y, e.b.y), area_.bottom, area_.top) - reach_);
            reached.top = std::max(reached.top, clampCoordinate(std::max(e.a.y, e.b.y), area_.bottom, area_.top) + reach_);
        }
        for (int y = ys.lo; y <= ys.hi; ++y) {
            for (int x = xs.lo; x <= xs.hi; ++x) {
                ++cellStart_[cellOfEdge(index, x, y) + 1];
            }
        }
    }
    for (size_t c = 0; c < cellCount; ++c) {
        cellStart_[c + 1] += cellStart_[c];
    }
    cellEdges_.assign(cellStart_[cellCount], 0);
    std::vector<uint32_t> fill(cellStart_.begin(), cellStart_.end() - 1);
    for (size_t index = 0; index < edges_.size(); ++index) {
        int i = 0;
        int j = 0;
        place(edges_[index], i, j, xs, ys);
        for (int y = ys.lo; y <= ys.hi; ++y) {
            for (int x = xs.lo; x <= xs.hi; ++x) {
                cellEdges_[fill[cellOfEdge(index, x, y)]++] = static_cast<uint32_t>(index);
            }
        }
    }
}

void CedgeGrid::candidatesInBox(const Bounds& box, std::vector<uint32_t>& out) const
{
    if (edges_.empty()) {
        return;
    }
    // An edge's cells are those of its widened box in its level; every cell
    // of it that the box reaches is among these (cellOf is monotone).
    for (const Level& level : levels_) {
        const Axis& across = xAxes_[level.i];
        const Range xs = columns(box.left, box.right, across);
        const Range ys = rows(box.bottom, box.top, yAxes_[level.j]);
        for (int y = ys.lo; y <= ys.hi; ++y) {
            for (int x = xs.lo; x <= xs.hi; ++x) {
                const size_t cell = level.firstCell + static_cast<size_t>(y) * static_cast<size_t>(across.count) +
                                    static_cast<size_t>(x);
                out.insert(out.end(), cellEdges_.begin() + cellStart_[cell], cellEdges_.begin() + cellStart_[cell + 1]);
            }
        }
    }
}

void CedgeGrid::clear()
{
    edges_ = {};
    levels_ = {};
    cellStart_ = {};
    cellEdges_ = {};
    xLevels_ = 0;
    yLevels_ = 0;
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
