#include "physics/World.h"

#include "physics/RunKeys.h"

#include "AllocationCounter.h"
#include "TestTracks.h"

#include "model/Globals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using testtracks::Track;

constexpr double kFrontX = 221.0 / 3.0;
constexpr double kWheelY = -113.0 / 3.0;
constexpr double kHeadY = 233.0 / 3.0;

class WorldTest : public ::testing::Test {
protected:
    void SetUp() override { clearKeys(); }
    void TearDown() override
    {
        freeWorld();
        clearKeys();
        facing = 1;
    }

    void build(const Track& track)
    {
        const std::string path = dir.writeTrack("track.vlt", track);
        ASSERT_TRUE(buildWorld(path));
    }

    // A bike on flat ground, the finish far away.
    void buildFlat()
    {
        Track track;
        track.polygons.push_back(testtracks::flatGround());
        build(track);
    }

    static void hold(std::initializer_list<int> keys)
    {
        clearKeys();
        for (int key : keys) {
            keyDown[key] = true;
        }
    }

    testtracks::TempDir dir;
};

bool finiteBall(const Cball& ball)
{
    return std::isfinite(ball.position.x) && std::isfinite(ball.position.y) &&
           std::isfinite(ball.velocity.x) && std::isfinite(ball.velocity.y) &&
           std::isfinite(ball.angle) && std::isfinite(ball.angularVelocity);
}

bool finiteBike(const Cmoto& bike)
{
    return finiteBall(bike) && finiteBall(*bike.frontWheel) && finiteBall(*bike.rearWheel) &&
           finiteBall(*bike.head);
}

TEST_F(WorldTest, BuildsTheRunFromTheTrackFile)
{
    Track track;
    track.bestTime = 6725 * 0.01 / 86400;
    track.start = {100.0, 200.0};
    track.finish = {3000.0, 40.0};
    track.polygons = {testtracks::flatGround(), testtracks::flatGround(-100.0, 100.0)};
    track.apples = {{500.0, 30.0}, {600.0, 30.0}, {700.0, 30.0}};
    build(track);

    EXPECT_EQ(trackPolygonCount, 2);
    ASSERT_NE(trackPolygons, nullptr);
    ASSERT_NE(trackPolygons->next, nullptr);
    EXPECT_EQ(trackPolygons->next->next, nullptr);   // the game's list: no empty node
    EXPECT_EQ(applesLeft, 3);
    EXPECT_EQ(finishBall->position.x, 3000.0);
    EXPECT_EQ(finishBall->radius, kWheelRadius);
    EXPECT_EQ(startPosition->y, 200.0);
    EXPECT_EQ(bestTimeText, "01:07:25");
    EXPECT_EQ(simMoto->frontWheel->position.x, 100.0 + kFrontX);
    EXPECT_NE(simMoto, shownMoto);
    EXPECT_EQ(facing.load(), 1);
    EXPECT_EQ(cameraLead.load(), -0.25);
    EXPECT_FALSE(braking);
    EXPECT_FALSE(throttle);
    EXPECT_FALSE(turnLatch);
    EXPECT_EQ(stepCount.load(), 0);
    EXPECT_TRUE(clockWaiting.load());

    // The border: two nested rectangles, 3 units apart.
    ASSERT_NE(borderPolygons, nullptr);
    ASSERT_NE(borderPolygons->next, nullptr);
    EXPECT_EQ(borderPolygons->next->prev, borderPolygons);
    EXPECT_EQ(borderPolygons->polygon->first->x, -8000.0);
    EXPECT_EQ(borderPolygons->next->polygon->first->y, -5997.0);
    EXPECT_EQ(borderPolygons->next->polygon->count, 4);
}

TEST_F(WorldTest, FailedBuildLeavesNothingAndFreeingIsSafeTwice)
{
    buildFlat();
    EXPECT_FALSE(buildWorld(dir.file("missing.vlt")));
    EXPECT_EQ(simMoto, nullptr);
    EXPECT_EQ(shownMoto, nullptr);
    EXPECT_EQ(trackPolygons, nullptr);
    EXPECT_EQ(finishBall, nullptr);
    EXPECT_EQ(borderPolygons, nullptr);

    // A file cut inside its polygons fails too, and frees what it read.
    Track track;
    track.polygons.push_back(testtracks::flatGround());
    const std::string bytes = testtracks::encode(track);
    EXPECT_FALSE(buildWorld(dir.write("cut.vlt", bytes.substr(0, bytes.size() - 10))));
    EXPECT_EQ(trackPolygons, nullptr);

    freeWorld();
    freeWorld();
}

TEST_F(WorldTest, ThrottleSpinsTheRearWheelAndUpWithDownBrakes)
{
    buildFlat();
    hold({VK_UP});
    applyControls();
    EXPECT_TRUE(throttle);
    EXPECT_EQ(simMoto->rearWheel->angularVelocity, -200.0);
    EXPECT_EQ(simMoto->frontWheel->angularVelocity, 0.0);

    hold({VK_UP, VK_DOWN});
    applyControls();
    EXPECT_FALSE(throttle);
    EXPECT_TRUE(braking);
    EXPECT_EQ(simMoto->rearWheel->angularVelocity, -200.0);

    hold({VK_LEFT});
    applyControls();
    EXPECT_EQ(simMoto->angularVelocity, 2.0);
    EXPECT_FALSE(braking);
    hold({VK_LEFT, VK_RIGHT});
    applyControls();
    EXPECT_EQ(simMoto->angularVelocity, 2.0);
}

TEST_F(WorldTest, BrakeSavesTheAnglesOncePerPress)
{
    buildFlat();
    simMoto->angle = 3.0;
    simMoto->frontWheel->angle = 10.0;
    simMoto->rearWheel->angle = 20.0;
    hold({VK_DOWN});
    applyControls();
    EXPECT_TRUE(braking);
    EXPECT_EQ(brakeLock.frameAngle, 3.0);
    EXPECT_EQ(brakeLock.frontAngle, 10.0);
    EXPECT_EQ(brakeLock.rearAngle, 20.0);

    simMoto->frontWheel->angle = 99.0;
    applyControls();
    EXPECT_EQ(brakeLock.frontAngle, 10.0);

    // Turning while braking keeps each wheel locked to its own angle.
    hold({VK_DOWN, VK_SPACE});
    Cball* oldFront = simMoto->frontWheel;
    applyControls();
    EXPECT_EQ(simMoto->rearWheel, oldFront);
    EXPECT_EQ(brakeLock.frontAngle, 20.0);
    EXPECT_EQ(brakeLock.rearAngle, 10.0);

    hold({});
    applyControls();
    EXPECT_FALSE(braking);
}

TEST_F(WorldTest, SpaceTurnsOncePerPress)
{
    buildFlat();
    Cball* front = simMoto->frontWheel;
    Cball* rear = simMoto->rearWheel;
    hold({VK_SPACE});
    applyControls();
    EXPECT_EQ(facing.load(), -1);
    EXPECT_EQ(simMoto->frontWheel, rear);
    EXPECT_EQ(simMoto->rearWheel, front);
    applyControls();
    applyControls();
    EXPECT_EQ(facing.load(), -1);
    hold({});
    applyControls();
    hold({VK_SPACE});
    applyControls();
    EXPECT_EQ(facing.load(), 1);
    EXPECT_EQ(simMoto->frontWheel, front);
}

TEST_F(WorldTest, CameraLeadSwingsOverAfterATurn)
{
    buildFlat();
    for (int i = 0; i < 10; ++i) {
        stepWorld(kStepSeconds);
    }
    EXPECT_EQ(cameraLead.load(), -0.25);

    hold({VK_SPACE});
    stepWorld(kStepSeconds);
    EXPECT_NEAR(cameraLead.load(), -0.245, 1e-12);
    hold({});
    for (int i = 0; i < 98; ++i) {
        stepWorld(kStepSeconds);
    }
    EXPECT_LT(cameraLead.load(), 0.25);
    EXPECT_GT(cameraLead.load(), 0.24);
    stepWorld(kStepSeconds);
    stepWorld(kStepSeconds);
    EXPECT_EQ(cameraLead.load(), 0.25);
}

TEST_F(WorldTest, FrameTurnsAtMostFiveDegreesPerStep)
{
    Track track;
    track.start = {0.0, 3000.0};   // in the air, nothing to touch
    build(track);
    simMoto->angle = 10.0;
    simMoto->angularVelocity = 2000.0;
    stepWorld(kStepSeconds);
    EXPECT_NEAR(simMoto->angle, 15.0, 1e-12);

    simMoto->angle = 358.0;
    simMoto->angularVelocity = 500.0;
    stepWorld(kStepSeconds);
    EXPECT_NEAR(simMoto->angle, 3.0, 1e-9);   // wrapped

    // Braking, angles are left as they are.
    hold({VK_DOWN});
    simMoto->angle = 358.0;
    simMoto->angularVelocity = 500.0;
    stepWorld(kStepSeconds);
    EXPECT_NEAR(simMoto->angle, 363.0, 1e-9);
}

TEST_F(WorldTest, FinishCountsOnlyWithoutApples)
{
    // The finish lies on the front wheel; an apple far away.
    Track track;
    track.start = {0.0, 3000.0};
    track.finish = {kFrontX, 3000.0 + kWheelY};
    track.apples = {{-3000.0, 0.0}};
    build(track);
    EXPECT_EQ(stepWorld(kStepSeconds), StepRunning);
    EXPECT_EQ(applesLeft, 1);
    freeWorld();

    track.apples.clear();
    build(track);
    EXPECT_EQ(stepWorld(kStepSeconds), StepFinished);
}

TEST_F(WorldTest, LastAppleOpensTheFinishForTheBallsAfterIt)
{
    // Apple at the front wheel, finish at the rear wheel: the front wheel
    // collects the last apple, the rear wheel then reaches the finish.
    Track track;
    track.start = {0.0, 3000.0};
    track.apples = {{kFrontX, 3000.0 + kWheelY}};
    track.finish = {-64.0, 3000.0 + kWheelY};
    build(track);
    EXPECT_EQ(stepWorld(kStepSeconds), StepFinished);
    EXPECT_EQ(applesLeft, 0);
    EXPECT_EQ(trackApples, nullptr);
    freeWorld();

    // The other way round the front wheel meets the finish while an apple is
    // still left: not this step, but the next.
    std::swap(track.apples[0], track.finish);
    build(track);
    EXPECT_EQ(stepWorld(kStepSeconds), StepRunning);
    EXPECT_EQ(applesLeft, 0);
    EXPECT_EQ(stepWorld(kStepSeconds), StepFinished);
}

TEST_F(WorldTest, ApplesInABoxAreTheListsOwnAndLeaveItWhenCollected)
{
    // Thousands of apples over the world and beyond it, two on the front
    // wheel; the drawing asks for the boxes of views here and there.
    Track track;
    track.start = {0.0, 3000.0};
    uint32_t seed = 7;
    const auto next = [&seed](double lo, double hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * static_cast<double>(seed >> 8) / 16777216.0;
    };
    for (int i = 0; i < 3000; ++i) {
        track.apples.push_back({next(-9000.0, 9000.0), next(-7000.0, 7000.0)});
    }
    track.apples.push_back({kFrontX, 3000.0 + kWheelY});
    track.apples.push_back({kFrontX + 1.0, 3000.0 + kWheelY});
    build(track);
    const auto listed = [](double left, double right, double bottom, double top) {
        std::vector<Cvector> inside;
        for (const Capples* a = trackApples; a != nullptr; a = a->next) {
            if (a->x >= left && a->x <= right && a->y >= bottom && a->y <= top) {
                inside.push_back(*a);
            }
        }
        return inside;
    };
    const auto same = [](const std::vector<Cvector>& a, const std::vector<Cvector>& b) {
        if (a.size() != b.size()) {
            return false;
        }
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i].x != b[i].x || a[i].y != b[i].y) {
                return false;
            }
        }
        return true;
    };
    std::vector<Cvector> shown;
    const double boxes[][4] = {{-512.0, 512.0, 2616.0, 3384.0}, {-8000.0, 8000.0, -6000.0, 6000.0},
                               {-9500.0, -8200.0, -7500.0, 7500.0}};
    for (int collected = 0; collected < 2; ++collected) {
        for (const auto& b : boxes) {
            applesInBox(b[0], b[1], b[2], b[3], shown);
            EXPECT_TRUE(same(shown, listed(b[0], b[1], b[2], b[3])))
                << shown.size() << " apples in box " << b[0] << ", " << b[2];
            EXPECT_FALSE(shown.empty());
        }
        // The front wheel takes its two apples; the boxes follow.
        stepWorld(kStepSeconds);
        EXPECT_EQ(applesLeft, 3000);
    }
}

TEST_F(WorldTest, HeadCrashOverridesAHeadFinishButNotAWheelFinish)
{
    // A block through the head's place, the finish on the head.
    const double headX = -2.0;
    const double headY = 3000.0 + kHeadY;
    Track track;
    track.start = {0.0, 3000.0};
    track.finish = {headX, headY};
    track.polygons = {{{headX - 5.0, headY - 5.0}, {headX + 5.0, headY - 5.0},
                       {headX + 5.0, headY + 5.0}, {headX - 5.0, headY + 5.0}}};
    build(track);
    EXPECT_EQ(stepWorld(kStepSeconds), StepCrashed);
    freeWorld();

    // Finish on the front wheel: the head is not tested in that step.
    track.finish = {kFrontX, 3000.0 + kWheelY};
    build(track);
    EXPECT_EQ(stepWorld(kStepSeconds), StepFinished);
}

TEST_F(WorldTest, AnEdgeTouchedWithoutAContactGivesTheWheelTheSharedResponse)
{
    // The front wheel sinks 0.5 into the ground while it rises from it: the
    // edge is touched, no contact is chosen, and the wheel still takes the
    // shared response, which is (0, 0) in a step's first pass, and the spin
    // last chosen by any ball. The head sits in a block, so that the
    // suspension leaves the result alone.
    Track track;
    track.start = {0.0, 100.0};
    track.polygons = {testtracks::flatGround(),
                      {{-20.0, 165.0}, {16.0, 165.0}, {16.0, 190.0}, {-20.0, 190.0}}};
    build(track);
    Cball& front = *simMoto->frontWheel;
    front.position.y = kWheelRadius - 1.0;
    front.velocity.setXY(30.0, 50.0);
    front.angularVelocity = -40.0;
    simMoto->rearWheel->position.y = 200.0;
    contactAngularVelocity = 123.0;
    EXPECT_EQ(stepWorld(kStepSeconds), StepCrashed);
    EXPECT_DOUBLE_EQ(front.position.x, kFrontX + 0.3);
    EXPECT_DOUBLE_EQ(front.position.y, kWheelRadius - 0.5);
    EXPECT_EQ(front.velocity.x, 0.0);
    EXPECT_EQ(front.velocity.y, 0.0);
    EXPECT_EQ(front.angularVelocity, 123.0);
}

TEST_F(WorldTest, LeavingTheWorldIsACrash)
{
    Track track;
    track.start = {0.0, 6000.0 - kHeadY - 20.0};   // head rim 4.67 below the top
    build(track);
    EXPECT_EQ(stepWorld(kStepSeconds), StepRunning);
    freeWorld();
    track.start = {0.0, 6000.0 - kHeadY - 10.0};   // head rim 5.33 above it
    build(track);
    EXPECT_EQ(stepWorld(kStepSeconds), StepCrashed);
}

TEST_F(WorldTest, WheelAtRestInTheGroundStaysFinite)
{
    buildFlat();
    // Sunk into the ground and not moving: the contact has no direction.
    for (Cmoto* bike = simMoto; Cball* wheel : {bike->frontWheel, bike->rearWheel}) {
        wheel->position.y = 10.0;
        wheel->velocity.setXY(0.0, 0.0);
    }
    for (int i = 0; i < 200; ++i) {
        stepWorld(kStepSeconds);
        ASSERT_TRUE(finiteBike(*simMoto)) << "step " << i;
    }
}

TEST_F(WorldTest, AnglesThatCannotBeWrappedDoNotHangTheStep)
{
    Track track;
    track.start = {0.0, 3000.0};
    build(track);
    simMoto->angle = INFINITY;
    simMoto->frontWheel->angle = 1e300;
    simMoto->rearWheel->angle = -1e300;
    stepWorld(kStepSeconds);
    stepWorld(kStepSeconds);
    for (const Cball* ball : {static_cast<const Cball*>(simMoto), static_cast<const Cball*>(simMoto->frontWheel),
                              static_cast<const Cball*>(simMoto->rearWheel)}) {
        EXPECT_GE(ball->angle, 0.0);
        EXPECT_LE(ball->angle, 360.0);
    }
}

// Runs a scripted ride and returns the bits of every state value after each step.
std::vector<unsigned char> ride(const std::string& path)
{
    std::vector<unsigned char> bits;
    EXPECT_TRUE(buildWorld(path));
    auto put = [&bits](double value) {
        unsigned char raw[8];
        std::memcpy(raw, &value, 8);
        bits.insert(bits.end(), raw, raw + 8);
    };
    for (int i = 0; i < 700; ++i) {
        clearKeys();
        keyDown[VK_UP] = i > 50;
        keyDown[VK_RIGHT] = i > 50 && i % 40 < 25;
        keyDown[VK_SPACE] = i > 400 && i < 410;
        keyDown[VK_DOWN] = i > 600;
        put(stepWorld(kStepSeconds));
        putBikeState(put);
        put(cameraLead.load());
        put(applesLeft);
    }
    freeWorld();
    return bits;
}

TEST_F(WorldTest, IdenticalRunsGiveIdenticalBits)
{
    Track track;
    track.polygons = {{{-2000.0, -500.0}, {6000.0, -500.0}, {6000.0, 0.0}, {1800.0, 0.0},
                       {1200.0, 150.0}, {600.0, 0.0}, {-2000.0, 0.0}}};
    track.apples = {{800.0, 60.0}, {1500.0, 180.0}};
    const std::string path = dir.writeTrack("ride.vlt", track);
    const auto first = ride(path);
    const auto second = ride(path);
    ASSERT_EQ(first.size(), second.size());
    EXPECT_TRUE(first == second);
}

TEST_F(WorldTest, StepAllocatesNothing)
{
    Track track;
    track.polygons.push_back(testtracks::flatGround());
    track.apples = {{300.0, 30.0}, {600.0, 30.0}};
    build(track);
    // Drive off, collect the apples, turn, brake; the keys are recorded as
    // they change, into a reserve too small for the fourth change, which
    // marks the run as not recorded instead of allocating.
    KeyRecorder recorder;
    recorder.begin(3);
    long long allocations = 0;
    for (int i = 0; i < 600; ++i) {
        clearKeys();
        keyDown[VK_UP] = true;
        keyDown[VK_RIGHT] = true;
        keyDown[VK_SPACE] = i == 400;
        keyDown[VK_DOWN] = i > 500;
        allocationcounter::Scope scope;
        recorder.record(static_cast<uint64_t>(i), heldDrivingKeys());
        stepWorld(kStepSeconds);
        allocations += scope.count();
    }
    EXPECT_EQ(applesLeft, 0);
    EXPECT_EQ(allocations, 0);
    EXPECT_FALSE(recorder.complete());
    ASSERT_EQ(recorder.changes().size(), 3u);
    EXPECT_EQ(recorder.changes()[1].step, 400u);
    EXPECT_EQ(recorder.changes()[2].keys, KeyUp | KeyRight);
}

}  // namespace
