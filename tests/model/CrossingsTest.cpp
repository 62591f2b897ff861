#include "model/Crossings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstddef>
#include <random>
#include <vector>

namespace {

// The reference: every pair of edges, with integer or long double sums.
using Wide = long double;

struct P {
    Wide x;
    Wide y;
};

int sign(Wide v)
{
    return v > 0 ? 1 : (v < 0 ? -1 : 0);
}

int orient(const P& a, const P& b, const P& c)
{
    return sign((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x));
}

bool onSegment(const P& a, const P& b, const P& c)
{
    return orient(a, b, c) == 0 && std::min(a.x, b.x) <= c.x && c.x <= std::max(a.x, b.x) &&
           std::min(a.y, b.y) <= c.y && c.y <= std::max(a.y, b.y);
}

bool segmentsMeet(const P& a, const P& b, const P& c, const P& d)
{
    const int o1 = orient(a, b, c);
    const int o2 = orient(a, b, d);
    const int o3 = orient(c, d, a);
    const int o4 = orient(c, d, b);
    if (o1 * o2 < 0 && o3 * o4 < 0) {
        return true;
    }
    return onSegment(a, b, c) || onSegment(a, b, d) || onSegment(c, d, a) || onSegment(c, d, b);
}

bool bruteForceMeet(const std::vector<Cvector>& points, const std::vector<size_t>& ends)
{
    struct E {
        P a;
        P b;
        size_t contour;
        size_t index;
        size_t size;
    };
    std::vector<E> edges;
    std::vector<P> all;
    size_t start = 0;
    for (size_t c = 0; c < ends.size(); ++c) {
        const size_t n = ends[c] - start;
        if (n >= 3) {
            for (size_t i = 0; i < n; ++i) {
                const Cvector& a = points[start + i];
                const Cvector& b = points[start + (i + 1) % n];
                edges.push_back(E{{a.x, a.y}, {b.x, b.y}, c, i, n});
                all.push_back(P{a.x, a.y});
            }
        }
        start = ends[c];
    }
    for (size_t i = 0; i < all.size(); ++i) {
        for (size_t j = i + 1; j < all.size(); ++j) {
            if (all[i].x == all[j].x && all[i].y == all[j].y) {
                return true;
            }
        }
    }
    for (size_t i = 0; i < edges.size(); ++i) {
        for (size_t j = i + 1; j < edges.size(); ++j) {
            const E& s = edges[i];
            const E& t = edges[j];
            const bool follows = s.contour == t.contour && (s.index + 1) % s.size == t.index;
            const bool precedes = s.contour == t.contour && (t.index + 1) % t.size == s.index;
            if (follows || precedes) {
                // Neighbours meet at their shared vertex; wrong only when
                // the far end of one lies on the other.
                const P& farS = follows ? s.a : s.b;
                const P& farT = follows ? t.b : t.a;
                if (onSegment(s.a, s.b, farT) || onSegment(t.a, t.b, farS)) {
                    return true;
                }
            } else if (segmentsMeet(s.a, s.b, t.a, t.b)) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

// Small outlines on a coarse grid: shared points, vertices on edges,
// collinear and folded edges, verticals, all in plenty; then outlines of
// random doubles, where edges cross in general position.
TEST(Crossings, SweepAgreesWithEveryPairOnRandomOutlines)
{
    std::mt19937 random(19);
    int meeting = 0;
    int clean = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        const bool grid = trial < 15000;
        std::uniform_int_distribution<int> coordinate(0, trial % 3 == 0 ? 4 : 12);
        std::uniform_real_distribution<double> real(-1000.0, 1000.0);
        std::uniform_int_distribution<int> contours(1, 3);
        std::uniform_int_distribution<int> size(2, grid ? 7 : 40);
        std::vector<Cvector> points;
        std::vector<size_t> ends;
        const int count = contours(random);
        for (int c = 0; c < count; ++c) {
            const int n = size(random);
            for (int i = 0; i < n; ++i) {
                if (grid) {
                    points.emplace_back(coordinate(random), coordinate(random));
                } else {
                    points.emplace_back(real(random), real(random));
                }
            }
            ends.push_back(points.size());
        }
        const bool expected = bruteForceMeet(points, ends);
        ASSERT_EQ(outlinesMeet(points, ends), expected) << "trial " << trial;
        // The grid's count finds a place exactly when there is one.
        ASSERT_EQ(outlinesMeetOften(points, ends, 0, SIZE_MAX), expected) << "trial " << trial;
        (expected ? meeting : clean) += 1;
    }
    // Both answers were asked for often.
    EXPECT_GT(meeting, 2000);
    EXPECT_GT(clean, 2000);
}
