#include "model/Crossings.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>

namespace {

constexpr double kMaxDrawnCoordinate = 1e100;

// Exact arithmetic on doubles: a sum or a product of two doubles is the
// rounded result plus an error term that is itself a double (the code is
// built without fused multiply-add, so each operation rounds once).
void twoSum(double a, double b, double& sum, double& error)
{
    sum = a + b;
    const double bVirtual = sum - a;
    const double aVirtual = sum - bVirtual;
    error = (a - aVirtual) + (b - bVirtual);
}

void split(double a, double& high, double& low)
{
    const double c = 134217729.0 * a;   // 2^27 + 1
    const double big = c - a;
    high = c - big;
    low = a - high;
}

void twoProduct(double a, double b, double& product, double& error)
{
    product = a * b;
    double aHigh = 0.0;
    double aLow = 0.0;
    double bHigh = 0.0;
    double bLow = 0.0;
    split(a, aHigh, aLow);
    split(b, bHigh, bLow);
    const double e1 = product - aHigh * bHigh;
    const double e2 = e1 - aLow * bHigh;
    const double e3 = e2 - aHigh * bLow;
    error = aLow * bLow - e3;
}

// The exact sign of (bx - ax)(cy - ay) - (by - ay)(cx - ax): each difference
// is two doubles, each product of two such sums four exact products, and
// the sixteen terms are added into an expansion of non-overlapping parts
// ordered by magnitude, whose sign is that of its largest part.
int exactOrientation(const Cvector& a, const Cvector& b, const Cvector& c)
{
    double d[4][2];
    twoSum(b.x, -a.x, d[0][0], d[0][1]);
    twoSum(c.y, -a.y, d[1][0], d[1][1]);
    twoSum(b.y, -a.y, d[2][0], d[2][1]);
    twoSum(c.x, -a.x, d[3][0], d[3][1]);
    double expansion[16];
    int length = 0;
    const auto grow = [&](double term) {
        double carry = term;
        for (int i = 0; i < length; ++i) {
            double sum = 0.0;
            double error = 0.0;
            twoSum(carry, expansion[i], sum, error);
            expansion[i] = error;
            carry = sum;
        }
        expansion[length++] = carry;
    };
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) {
            double product = 0.0;
            double error = 0.0;
            twoProduct(d[0][i], d[1][j], product, error);
            grow(product);
            grow(error);
            twoProduct(d[2][i], d[3][j], product, error);
            grow(-product);
            grow(-error);
        }
    }
    for (int i = length - 1; i >= 0; --i) {
        if (expansion[i] != 0.0) {
            return expansion[i] > 0.0 ? 1 : -1;
        }
    }
    return 0;
}

int orientation(const Cvector& a, const Cvector& b, const Cvector& c)
{
    const double left = (b.x - a.x) * (c.y - a.y);
    const double right = (b.y - a.y) * (c.x - a.x);
    const double det = left - right;
    // Beyond this bound the rounded value has the exact sign.
    const double bound = 3.3306690738754716e-16 * (std::fabs(left) + std::fabs(right));
    if (det > bound) {
        return 1;
    }
    if (-det > bound) {
        return -1;
    }
    return exactOrientation(a, b, c);
}

// The sweep's order of points: by x, then by y. A vertical edge is thus
// swept from its lower end as if leaning a little to the right.
bool before(const Cvector& p, const Cvector& q)
{
    return p.x < q.x || (p.x == q.x && p.y < q.y);
}

bool same(const Cvector& p, const Cvector& q)
{
    return p.x == q.x && p.y == q.y;
}

struct Edge {
    Cvector left;    // the end the sweep meets first
    Cvector right;
    uint32_t leftVertex = 0;
    uint32_t rightVertex = 0;
};

// c lies on the closed edge, given that it lies on the edge's line.
bool withinCollinear(const Edge& e, const Cvector& c)
{
    return !before(c, e.left) && !before(e.right, c);
}

bool neighbours(const Edge& s, const Edge& t)
{
    return s.leftVertex == t.leftVertex || s.leftVertex == t.rightVertex || s.rightVertex == t.leftVertex ||
           s.rightVertex == t.rightVertex;
}

// Two edges meet where they must not. All points are distinct, so edges
// that share an end are neighbours along an outline; they meet wrongly
// only when they run over each other from the shared vertex.
bool edgesMeet(const Edge& s, const Edge& t)
{
    if (neighbours(s, t)) {
        const bool sharedLeft = s.leftVertex == t.leftVertex || s.leftVertex == t.rightVertex;
        const Cvector& shared = sharedLeft ? s.left : s.right;
        const Cvector& a = sharedLeft ? s.right : s.left;
        const Cvector& b = (t.leftVertex == s.leftVertex || t.leftVertex == s.rightVertex) ? t.right : t.left;
        return orientation(shared, a, b) == 0 && before(a, shared) == before(b, shared);
    }
    const int o1 = orientation(s.left, s.right, t.left);
    const int o2 = orientation(s.left, s.right, t.right);
    const int o3 = orientation(t.left, t.right, s.left);
    const int o4 = orientation(t.left, t.right, s.right);
    if (o1 * o2 < 0 && o3 * o4 < 0) {
        return true;
    }
    return (o1 == 0 && withinCollinear(s, t.left)) || (o2 == 0 && withinCollinear(s, t.right)) ||
           (o3 == 0 && withinCollinear(t, s.left)) || (o4 == 0 && withinCollinear(t, s.right));
}

// The edges the sweep line crosses, ordered from bottom to top. The set
// only ever compares the edge being inserted with edges already in it, and
// that edge's place is decided at its left end; when that end lies on an
// edge of the set (or the two run on from a shared vertex along one line),
// the outlines meet and `met` is set.
struct Sweep {
    const std::vector<Edge>* edges = nullptr;
    uint32_t inserting = 0;
    bool met = false;

    // -1: the inserted edge runs below edge t, 1: above.
    int side(const Edge& e, const Edge& t)
    {
        const int o = orientation(t.left, t.right, e.left);
        if (o != 0) {
            return o;
        }
        if (same(e.left, t.left)) {
            const int along = orientation(t.left, t.right, e.right);
            if (along != 0) {
                return along;
            }
        }
        met = true;
        return 0;
    }
};

struct Below {
    Sweep* sweep;
    bool operator()(uint32_t a, uint32_t b) const
    {
        const std::vector<Edge>& edges = *sweep->edges;
        if (a == sweep->inserting && b != sweep->inserting) {
            return sweep->side(edges[a], edges[b]) < 0;
        }
        if (b == sweep->inserting && a != sweep->inserting) {
            return sweep->side(edges[b], edges[a]) > 0;
        }
        return a < b;   // never asked: the set compares only with the new edge
    }
};

struct Event {
    Cvector at;
    uint32_t edge = 0;
    bool leaves = false;
};

}  // namespace

bool drawableVertex(const Cvector& v)
{
    // False for NaN as well.
    return v.x >= -kMaxDrawnCoordinate && v.x <= kMaxDrawnCoordinate && v.y >= -kMaxDrawnCoordinate &&
           v.y <= kMaxDrawnCoordinate;
}

namespace {

// The outlines the tessellator keeps, their drawable points into `kept`
// and their edges into `edges`.
void keptEdges(const std::vector<Cvector>& points, const std::vector<size_t>& contourEnds, std::vector<Cvector>& kept,
               std::vector<Edge>& edges)
{
    size_t start = 0;
    for (const size_t end : contourEnds) {
        const size_t first = kept.size();
        for (size_t i = start; i < end && i < points.size(); ++i) {
            if (drawableVertex(points[i])) {
                kept.push_back(points[i]);
            }
        }
        start = end;
        const size_t n = kept.size() - first;
        if (n < 3) {
            kept.resize(first);
            continue;
        }
        for (size_t i = 0; i < n; ++i) {
            const uint32_t a = static_cast<uint32_t>(first + i);
            const uint32_t b = static_cast<uint32_t>(first + (i + 1 == n ? 0 : i + 1));
            const bool forward = before(kept[a], kept[b]);
            edges.push_back(forward ? Edge{kept[a], kept[b], a, b} : Edge{kept[b], kept[a], b, a});
        }
    }
}

}  // namespace

bool outlinesMeet(const std::vector<Cvector>& points, const std::vector<size_t>& contourEnds)
{
    std::vector<Cvector> kept;
    std::vector<Edge> edges;
    keptEdges(points, contourEnds, kept, edges);

    // Two equal points, anywhere: the tessellator merges them.
    std::vector<Cvector> sorted(kept);
    std::sort(sorted.begin(), sorted.end(), before);
    for (size_t i = 1; i < sorted.size(); ++i) {
        if (same(sorted[i - 1], sorted[i])) {
            return true;
        }
    }

    // Every point is now the end of exactly its two neighbouring edges.
    std::vector<Event> events;
    events.reserve(2 * edges.size());
    for (uint32_t i = 0; i < edges.size(); ++i) {
        events.push_back(Event{edges[i].left, i, false});
        events.push_back(Event{edges[i].right, i, true});
    }
    // At one point, edges that end there leave before edges that start
    // there come in.
    std::sort(events.begin(), events.end(), [](const Event& p, const Event& q) {
        if (!same(p.at, q.at)) {
            return before(p.at, q.at);
        }
        if (p.leaves != q.leaves) {
            return p.leaves;
        }
        return p.edge < q.edge;
    });

    Sweep sweep;
    sweep.edges = &edges;
    std::set<uint32_t, Below> crossed(Below{&sweep});
    std::vector<std::set<uint32_t, Below>::iterator> place(edges.size(), crossed.end());
    for (const Event& event : events) {
        if (event.leaves) {
            const auto it = place[event.edge];
            if (it != crossed.begin() && std::next(it) != crossed.end() &&
                edgesMeet(edges[*std::prev(it)], edges[*std::next(it)])) {
                return true;
            }
            crossed.erase(it);
            continue;
        }
        sweep.inserting = event.edge;
        const auto [it, inserted] = crossed.insert(event.edge);
        if (sweep.met || !inserted) {
            return true;
        }
        place[event.edge] = it;
        if (it != crossed.begin() && edgesMeet(edges[*std::prev(it)], edges[event.edge])) {
            return true;
        }
        if (std::next(it) != crossed.end() && edgesMeet(edges[*std::next(it)], edges[event.edge])) {
            return true;
        }
    }
    return false;
}

bool outlinesMeetOften(const std::vector<Cvector>& points, const std::vector<size_t>& contourEnds, size_t places,
                       size_t work)
{
    std::vector<Cvector> kept;
    std::vector<Edge> edges;
    keptEdges(points, contourEnds, kept, edges);
    if (edges.empty()) {
        return false;
    }
    size_t found = 0;
    size_t done = 0;
    // Equal points.
    std::vector<Cvector> sorted(kept);
    std::sort(sorted.begin(), sorted.end(), before);
    for (size_t i = 1; i < sorted.size(); ++i) {
        if (same(sorted[i - 1], sorted[i]) && ++found > places) {
            return true;
        }
    }
    // Edges that meet share a cell of a grid over the points' box (a cell
    // of the meeting point: cells come from one monotone function of a
    // coordinate); each cell's edges are compared in pairs. Every edge put
    // into a cell and every pair compared counts as work.
    double left = INFINITY;
    double right = -INFINITY;
    double bottom = INFINITY;
    double top = -INFINITY;
    for (const Cvector& p : kept) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        bottom = std::min(bottom, p.y);
        top = std::max(top, p.y);
    }
    const int side = static_cast<int>(std::clamp(std::ceil(std::sqrt(static_cast<double>(edges.size()))), 1.0, 1024.0));
    const double cellWidth = (right - left) / side;
    const double cellHeight = (top - bottom) / side;
    const auto cellOf = [side](double v, double origin, double size) {
        const double c = size > 0.0 ? (v - origin) / size : 0.0;
        return c <= 0.0 ? 0 : (c >= side - 1 ? side - 1 : static_cast<int>(c));
    };
    std::vector<std::vector<uint32_t>> cells(static_cast<size_t>(side) * static_cast<size_t>(side));
    for (uint32_t index = 0; index < edges.size(); ++index) {
        const Edge& e = edges[index];
        const int x0 = cellOf(e.left.x, left, cellWidth);
        const int x1 = cellOf(e.right.x, left, cellWidth);
        const int y0 = cellOf(std::min(e.left.y, e.right.y), bottom, cellHeight);
        const int y1 = cellOf(std::max(e.left.y, e.right.y), bottom, cellHeight);
        done += static_cast<size_t>(x1 - x0 + 1) * static_cast<size_t>(y1 - y0 + 1);
        if (done > work) {
            return true;
        }
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                cells[static_cast<size_t>(y) * static_cast<size_t>(side) + static_cast<size_t>(x)].push_back(index);
            }
        }
    }
    for (const std::vector<uint32_t>& cell : cells) {
        done += cell.size() * (cell.size() - (cell.empty() ? 0 : 1)) / 2;
        if (done > work) {
            return true;
        }
        for (size_t i = 0; i < cell.size(); ++i) {
            for (size_t j = i + 1; j < cell.size(); ++j) {
                if (edgesMeet(edges[cell[i]], edges[cell[j]]) && ++found > places) {
                    return true;
                }
            }
        }
    }
    return false;
}

namespace {

void outlinesOf(const Cpolygons* list, std::vector<Cvector>& points, std::vector<size_t>& ends)
{
    for (const Cpolygons* node = list; node != nullptr; node = node->next) {
        if (node->polygon == nullptr) {
            continue;
        }
        for (const Cvertex* v = node->polygon->first; v != nullptr; v = v->next) {
            points.push_back(*v);
        }
        ends.push_back(points.size());
    }
}

}  // namespace

bool polygonsMeetOften(const Cpolygons* list)
{
    std::vector<Cvector> points;
    std::vector<size_t> ends;
    outlinesOf(list, points, ends);
    return outlinesMeet(points, ends) && outlinesMeetOften(points, ends, kOftenPlaces, kOftenWork);
}

bool polygonMeetsItselfOften(const Cpolygon* polygon)
{
    std::vector<Cvector> points;
    for (const Cvertex* v = polygon->first; v != nullptr; v = v->next) {
        points.push_back(*v);
    }
    return outlinesMeet(points, {points.size()}) &&
           outlinesMeetOften(points, {points.size()}, kOftenPlaces, kOftenWork);
}
