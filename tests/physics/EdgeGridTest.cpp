// The broad phase: its candidates cover every edge the full walk looks at,
// in the full walk's order, and whole rides through it give the bits of the
// full walk on big, piled-up and damaged tracks.
#include "physics/EdgeGrid.h"

#include "TestTracks.h"
#include "Tracks.h"

#include "model/Globals.h"
#include "physics/World.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr CedgeGrid::Bounds kField{kWorldLeft - 500.0, kWorldRight + 500.0, kWorldBottom - 500.0, kWorldTop + 500.0};

// Flat ground, a pile of 1,000 tiny squares on it at x 300 to 400, a sliver
// with one edge across the whole world, and polygons with NaN, infinite and
// huge coordinates near the ground.
testtracks::Track oddTrack()
{
    testtracks::Track track;
    track.polygons.push_back(testtracks::flatGround());
    for (int i = 0; i < 1000; ++i) {
        const double x = 300.0 + 2.5 * (i % 40);
        const double y = 2.5 * (i / 40);
        track.polygons.push_back({{x, y}, {x + 1.5, y}, {x + 1.5, y + 1.5}, {x, y + 1.5}});
    }
    track.polygons.push_back({{-7990.0, -5990.0}, {7990.0, 5990.0}, {7990.0, 5980.0}});
    track.polygons.push_back({{900.0, 0.0}, {kNaN, 10.0}, {950.0, 20.0}});
    track.polygons.push_back({{1200.0, 0.0}, {1250.0, kNaN}, {INFINITY, 15.0}});
    track.polygons.push_back({{1500.0, 5.0}, {1e300, -1e300}, {-INFINITY, 5.0}});
    track.polygons.push_back({{1800.0, 0.0}});
    return track;
}

std::unique_ptr<Cpolygons> listOf(const std::vector<std::vector<testtracks::Point>>& polygons)
{
    std::unique_ptr<Cpolygons> head;
    Cpolygons* tail = nullptr;
    for (const auto& outline : polygons) {
        auto* node = new Cpolygons;
        node->polygon = new Cpolygon;
        for (const auto& [x, y] : outline) {
            node->polygon->addVertex(x, y);
        }
        if (tail == nullptr) {
            head.reset(node);
        } else {
            tail->next = node;
            node->prev = tail;
        }
        tail = node;
    }
    return head;
}

using Walk = std::vector<std::pair<const Cvertex*, const Cvertex*>>;

// The edges as the full walk meets them.
Walk walkOf(const Cpolygons* list)
{
    Walk walk;
    for (const Cpolygons* node = list; node != nullptr; node = node->next) {
        for (const Cvertex* a = node->polygon->first; a != nullptr; a = a->next) {
            walk.push_back({a, a->next != nullptr ? a->next : node->polygon->first});
        }
    }
    return walk;
}

// At each centre, for a wheel and a head: the candidates rise strictly, hold
// every edge the full walk does not reject, and a pass that stops early
// stops at once.
void expectCandidatesCoverTheWalk(const CedgeGrid& grid, const Walk& walk, const std::vector<Cvector>& centres)
{
    for (const Cvector& centre : centres) {
        for (const double radius : {kWheelRadius, kHeadRadius}) {
            Cball ball(radius);
            ball.position = centre;
            std::vector<uint32_t> candidates;
            grid.visitCandidates(centre, radius, [&](uint32_t index) {
                candidates.push_back(index);
                return false;
            });
            for (size_t k = 1; k < candidates.size(); ++k) {
                ASSERT_LT(candidates[k - 1], candidates[k]) << centre.x << ", " << centre.y;
            }
            size_t k = 0;
            for (uint32_t i = 0; i < walk.size(); ++i) {
                if (!ball.edgeOutOfReach(*walk[i].first, *walk[i].second)) {
                    while (k < candidates.size() && candidates[k] < i) {
                        ++k;
                    }
                    ASSERT_TRUE(k < candidates.size() && candidates[k] == i)
                        << "edge " << i << " left out at " << centre.x << ", " << centre.y << " r " << radius;
                }
            }
            int visits = 0;
            grid.visitCandidates(centre, radius, [&](uint32_t) { return ++visits == 1; });
            EXPECT_EQ(visits, candidates.empty() ? 0 : 1);
        }
    }
}

TEST(EdgeGridTest, CandidatesHoldEveryEdgeInReachOnceInWalkOrder)
{
    testtracks::Track track = oddTrack();
    const TrackDesign big = bigTrack(12000, 3);
    for (const auto& outline : big.polygons) {
        std::vector<testtracks::Point> points;
        for (const Point& p : outline) {
            points.push_back({p.x, p.y});
        }
        track.polygons.push_back(points);
    }
    const auto list = listOf(track.polygons);
    CedgeGrid grid;
    grid.build(list.get(), kField, kWheelRadius);

    const Walk walk = walkOf(list.get());
    ASSERT_EQ(grid.edgeCount(), walk.size());
    for (size_t i = 0; i < walk.size(); i += 997) {
        EXPECT_EQ(std::memcmp(&grid.edge(static_cast<uint32_t>(i)).b.x, &walk[i].second->x, 8), 0) << i;
    }

    std::mt19937 random(11);
    std::uniform_real_distribution<double> x(-8600.0, 8600.0);
    std::uniform_real_distribution<double> y(-6600.0, 6600.0);
    std::vector<Cvector> centres = {{350.0, 20.0}, {920.0, 10.0}, {1800.0, 0.0}, {kNaN, 0.0},
                                    {0.0, INFINITY}, {-1e300, 1e300}, {7990.0, 5985.0}};
    for (int i = 0; i < 250; ++i) {
        centres.push_back({x(random), y(random)});
    }
    // Points on the walk's own vertices, where rounding is closest.
    for (size_t i = 0; i < walk.size(); i += 293) {
        centres.push_back(*walk[i].first);
    }
    expectCandidatesCoverTheWalk(grid, walk, centres);

    // A ball wider than the grid's reach gets every edge.
    size_t all = 0;
    grid.visitCandidates(Cvector(0.0, 0.0), 300.0, [&all](uint32_t index) {
        EXPECT_EQ(index, all);
        ++all;
        return false;
    });
    EXPECT_EQ(all, walk.size());

    // Far from the pile and the damaged polygons, a wheel's square gets a
    // handful of edges, not the track.
    size_t most = 0;
    for (double cx = -7000.0; cx < 7000.0; cx += 250.0) {
        size_t count = 0;
        grid.visitCandidates(Cvector(cx, 1000.0), kWheelRadius, [&count](uint32_t) {
                                 ++count;
                                 return false;
                             });
        most = std::max(most, count);
    }
    EXPECT_LT(most, 200u);

    grid.clear();
    EXPECT_EQ(grid.edgeCount(), 0u);
    bool visited = false;
    grid.visitCandidates(Cvector(0.0, 0.0), 1.0, [&visited](uint32_t) { return visited = true; });
    EXPECT_FALSE(visited);
}

// How a wheel touches the ground in a step: from below (a ceiling), at a
// vertex (a corner), or at the side wall of a pit.
struct Touches {
    int ceilings = 0;
    int corners = 0;
    int pitWalls = 0;

    void count(const CedgeGrid& grid, const Cball& wheel, double pitDepth)
    {
        const Cvector& c = wheel.position;
        const double reach = wheel.radius + 0.5;
        grid.visitCandidates(c, reach, [&](uint32_t index) {
            const CedgeGrid::Edge& e = grid.edge(index);
            const double dx = e.b.x - e.a.x;
            const double dy = e.b.y - e.a.y;
            const double length2 = dx * dx + dy * dy;
            const double t = length2 > 0.0 ? ((c.x - e.a.x) * dx + (c.y - e.a.y) * dy) / length2 : 0.0;
            const double qx = e.a.x + std::clamp(t, 0.0, 1.0) * dx;
            const double qy = e.a.y + std::clamp(t, 0.0, 1.0) * dy;
            if (std::hypot(c.x - qx, c.y - qy) > reach) {
                return false;
            }
            ceilings += qy > c.y + wheel.radius * 0.5 ? 1 : 0;
            corners += t <= 0.0 || t >= 1.0 ? 1 : 0;
            pitWalls += dx == 0.0 && std::fabs(std::fabs(dy) - pitDepth) < 1e-6 ? 1 : 0;
            return false;
        });
    }
};

// Rides the track at `path` with a random key script, through the grid or
// by brute force, and returns the bits of every state value after each step.
std::vector<unsigned char> ride(const std::string& path, bool bruteForce, unsigned seed, int steps,
                                Touches* touches = nullptr, double toss = 0.0)
{
    std::vector<unsigned char> bits;
    EXPECT_TRUE(buildWorld(path));
    bruteForceContacts = bruteForce;
    // A pass that touches without choosing a contact takes the last chosen
    // spin, which a build leaves as it was: both rides start from the same.
    contactAngularVelocity = 0.0;
    // A toss sends the bike up, turning over backwards, into the ceiling.
    for (Cball* ball : {static_cast<Cball*>(simMoto), simMoto->frontWheel, simMoto->rearWheel}) {
        ball->velocity.y = toss;
    }
    simMoto->angularVelocity = toss;
    CedgeGrid probe;
    if (touches != nullptr) {
        probe.build(trackPolygons, kField, kWheelRadius + 0.5);
    }
    auto put = [&bits](double value) {
        unsigned char raw[8];
        std::memcpy(raw, &value, 8);
        bits.insert(bits.end(), raw, raw + 8);
    };
    std::mt19937 random(seed);
    for (int i = 0; i < steps; ++i) {
        if (i % 20 == 0) {
            const unsigned keys = random();
            clearKeys();
            keyDown[VK_UP] = keys % 4 != 0;
            keyDown[VK_LEFT] = keys / 4 % 5 == 0;
            keyDown[VK_RIGHT] = keys / 4 % 5 == 1;
            keyDown[VK_DOWN] = keys / 32 % 6 == 0;
            keyDown[VK_SPACE] = keys / 256 % 8 == 0;
        }
        const int32_t result = stepWorld(kStepSeconds);
        put(result);
        putBikeState(put);
        put(cameraLead.load());
        put(applesLeft);
        put(facing.load());
        if (touches != nullptr) {
            touches->count(probe, *simMoto->frontWheel, 28.0);
            touches->count(probe, *simMoto->rearWheel, 28.0);
        }
        if (result != StepRunning) {
            break;
        }
    }
    bruteForceContacts = false;
    freeWorld();
    clearKeys();
    facing = 1;
    return bits;
}

TEST(EdgeGridTest, RidesGiveTheBitsOfTheFullWalk)
{
    testtracks::TempDir dir;
    // A generated big track, started on several floors and places, with
    // scripts that hit ceilings, corners and pits.
    TrackDesign big = bigTrack(12000, 5);
    Touches touches;
    int rides = 0;
    for (const double x : {-5000.0, 2000.0, 5500.0}) {
        for (const int floor : {-1, 0, 1}) {
            TrackDesign design = big;
            design.start = {x, big.start.y + 400.0 * floor + 60.0};
            const std::string path = dir.file("big.vlt");
            ASSERT_TRUE(writeDesign(design, path));
            const unsigned seed = static_cast<unsigned>(rides++);
            const double toss = floor == 0 ? 0.0 : 500.0;
            const auto grid = ride(path, false, seed, 1200, &touches, toss);
            const auto brute = ride(path, true, seed, 1200, nullptr, toss);
            ASSERT_EQ(grid.size(), brute.size()) << x << " floor " << floor;
            EXPECT_TRUE(grid == brute) << x << " floor " << floor;
        }
    }
    EXPECT_GT(touches.ceilings, 0);
    EXPECT_GT(touches.corners, 0);
    EXPECT_GT(touches.pitWalls, 0);

    // Through a pile of edges and past NaN, infinite and huge coordinates,
    // collecting from 3,000 apples.
    testtracks::Track odd = oddTrack();
    odd.start = {100.0, 150.0};
    for (int i = 0; i < 3000; ++i) {
        odd.apples.push_back({-500.0 + 7.0 * (i % 500), 30.0 + 35.0 * (i / 500)});
    }
    odd.apples.push_back({kNaN, 40.0});
    const std::string path = dir.writeTrack("odd.vlt", odd);
    for (unsigned seed = 0; seed < 3; ++seed) {
        const auto grid = ride(path, false, seed, 800);
        const auto brute = ride(path, true, seed, 800);
        EXPECT_TRUE(grid == brute) << seed;
        double applesLeftAtEnd = 0.0;
        std::memcpy(&applesLeftAtEnd, &grid[grid.size() - 16], 8);
        EXPECT_LT(applesLeftAtEnd, 2990.0) << seed;
    }
}

// Edges of every size from a unit to the world's width, at every angle,
// about a clear box where the bike rides: long slabs right over and beside
// it, world-wide slivers, a zigzag of long edges far below, and junk.
testtracks::Track scalesTrack()
{
    testtracks::Track track;
    track.polygons.push_back(testtracks::flatGround(-300.0, 3400.0));
    track.polygons.push_back({{-7000.0, 300.0}, {7000.0, 300.0}, {7000.0, 310.0}, {-7000.0, 310.0}});
    track.polygons.push_back({{-400.0, -5900.0}, {-390.0, -5900.0}, {-390.0, 5900.0}, {-400.0, 5900.0}});
    track.polygons.push_back({{3500.0, -5900.0}, {3510.0, -5900.0}, {3510.0, 5900.0}, {3500.0, 5900.0}});
    track.polygons.push_back({{-7990.0, 5990.0}, {7990.0, -5990.0}, {7990.0, -5980.0}});
    for (const auto& outline : farEdgesTrack(4000, 2).polygons) {
        if (outline.size() > 1000) {
            std::vector<testtracks::Point> points;
            for (const Point& p : outline) {
                points.push_back({p.x, p.y});
            }
            track.polygons.push_back(points);
        }
    }
    std::mt19937 random(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 3000; ++i) {
        const double x = -7900.0 + 15800.0 * unit(random);
        const double y = -5000.0 + 10900.0 * unit(random);
        if (x > -600.0 && x < 3700.0 && y > -200.0 && y < 700.0) {
            continue;
        }
        const double length = std::pow(20000.0, unit(random));
        const double angle = 6.283185307179586 * unit(random);
        const double bx = std::clamp(x + length * std::cos(angle), -7990.0, 7990.0);
        const double by = std::clamp(y + length * std::sin(angle), -5990.0, 5990.0);
        track.polygons.push_back({{x, y}, {bx, by}, {x + 1.0, y + 2.0}});
    }
    track.start = {0.0, 70.0};
    track.finish = {3000.0, 40.0};
    return track;
}

TEST(EdgeGridTest, EdgesOfEverySizeAreFoundOnceInOrderAndFarLongOnesAreLeftOut)
{
    const testtracks::Track track = scalesTrack();
    const auto list = listOf(track.polygons);
    CedgeGrid grid;
    grid.build(list.get(), kField, kWheelRadius);
    const Walk walk = walkOf(list.get());
    ASSERT_EQ(grid.edgeCount(), walk.size());
    EXPECT_GT(grid.levelCount(), 4);
    EXPECT_LE(grid.cellEntryCount(), 64 * walk.size());

    std::mt19937 random(17);
    std::uniform_real_distribution<double> x(-8600.0, 8600.0);
    std::uniform_real_distribution<double> y(-6600.0, 6600.0);
    std::vector<Cvector> centres = {{0.0, 70.0}, {-395.0, 100.0}, {3505.0, 0.0}, {0.0, 305.0}, {0.0, -5500.0}};
    for (int i = 0; i < 300; ++i) {
        centres.push_back({x(random), y(random)});
    }
    for (size_t i = 0; i < walk.size(); i += 37) {
        centres.push_back(*walk[i].first);
        centres.push_back(*walk[i].second);
    }
    expectCandidatesCoverTheWalk(grid, walk, centres);

    // Along the ride, a wheel meets the slabs near it but none of the
    // thousands of long edges far below.
    const auto far = farEdgesTrack(20000, 1);
    std::vector<std::vector<testtracks::Point>> farPolygons;
    for (const auto& outline : far.polygons) {
        std::vector<testtracks::Point> points;
        for (const Point& p : outline) {
            points.push_back({p.x, p.y});
        }
        farPolygons.push_back(points);
    }
    const auto farList = listOf(farPolygons);
    CedgeGrid farGrid;
    farGrid.build(farList.get(), kField, kWheelRadius);
    ASSERT_GT(farGrid.edgeCount(), 20000u);
    size_t most = 0;
    for (double cx = far.start.x - 500.0; cx < far.finish.x + 500.0; cx += 25.0) {
        for (const double cy : {far.start.y - 100.0, far.start.y, far.start.y + 300.0}) {
            size_t count = 0;
            farGrid.visitCandidates(Cvector(cx, cy), kWheelRadius, [&count](uint32_t) {
                ++count;
                return false;
            });
            most = std::max(most, count);
        }
    }
    EXPECT_LT(most, 200u);
}

TEST(EdgeGridTest, RidesAmongEdgesOfEverySizeGiveTheBitsOfTheFullWalk)
{
    testtracks::TempDir dir;
    const std::string path = dir.writeTrack("scales.vlt", scalesTrack());
    for (unsigned seed = 0; seed < 4; ++seed) {
        const double toss = seed % 2 == 0 ? 0.0 : 450.0;
        const auto grid = ride(path, false, seed, 1000, nullptr, toss);
        const auto brute = ride(path, true, seed, 1000, nullptr, toss);
        ASSERT_GT(grid.size(), 100u * 8u) << seed;
        EXPECT_TRUE(grid == brute) << seed;
    }
}

}  // namespace
