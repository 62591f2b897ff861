#include "physics/World.h"

#include "model/Globals.h"
#include "model/FileAccess.h"
#include "model/Replay.h"
#include "model/RunTime.h"
#include "model/TrackFile.h"
#include "physics/EdgeGrid.h"
#include "physics/RunKeys.h"

#include <cmath>
#include <vector>

Cmoto* simMoto = nullptr;
Cmoto* shownMoto = nullptr;
Cpolygons* trackPolygons = nullptr;
int32_t trackPolygonCount = 0;
Capples* trackApples = nullptr;
int32_t applesLeft = 0;
Cball* finishBall = nullptr;
Cvector* startPosition = nullptr;
Cpolygons* borderPolygons = nullptr;
double bestTime = -1.0;
std::string bestTimeText;

std::mutex sceneLock;

bool throttle = false;
bool braking = false;
BrakeLock brakeLock;
bool turnLatch = false;
double rearSpinChange = 0.0;
std::atomic<double> cameraLead{-0.25};

std::atomic<int32_t> stepCount{0};
std::atomic<bool> clockWaiting{true};

bool bruteForceContacts = false;
void (*appleRemovalHook)() = nullptr;

namespace {

// The broad phases over trackPolygons and over the apples as the track
// had them, built with the world; an apple collected is marked taken.
CedgeGrid groundGrid;
CedgeGrid appleGrid;
std::vector<unsigned char> appleTaken;

// A ball's contact pass against the ground: through the grid, or over every
// edge when the reference walk is asked for. Both give the same bits.
bool collideGround(const Cball& ball, bool testOnly)
{
    if (bruteForceContacts) {
        return ball.collidePolygons(trackPolygons, testOnly);
    }
    return groundGrid.collide(ball, testOnly);
}

constexpr int kMaxContactPasses = 1000;
// The grid divides the playing field and this much around it, where a bike
// can still be before its head leaves the field.
constexpr double kGridMargin = 500.0;

// Angles are kept in [0, 360] while nothing holds them; a value too large
// to wrap by whole turns in reasonable time is reduced first, and a value
// that is not finite is dropped rather than looped on forever.
void wrapAngle(double& angle)
{
    if (!std::isfinite(angle)) {
        angle = 0.0;
        return;
    }
    if (angle > 3.6e6 || angle < -3.6e6) {
        angle = std::fmod(angle, 360.0);
    }
    while (angle > 360.0) {
        angle = angle - 360.0;
    }
    while (angle < 0.0) {
        angle = angle + 360.0;
    }
}

// True when some apple lies within reach of the ball. Only this thread
// changes the apple list, so it may be read here without the lock; the
// lock is needed only to change it.
bool appleInReach(const Cball& ball)
{
    const double reach = ball.radius + kAppleRadius;
    if (bruteForceContacts) {
        for (const Capples* apple = trackApples; apple != nullptr; apple = apple->next) {
            if (distance(*apple, ball.position) < reach) {
                return true;
            }
        }
        return false;
    }
    bool found = false;
    appleGrid.visitCandidates(ball.position, reach, [&](uint32_t index) {
        found = appleTaken[index] == 0 && distance(appleGrid.edge(index).a, ball.position) < reach;
        return found;
    });
    return found;
}

// collectApples takes exactly the apples closer than the reach, so the
// same test marks them taken in the grid.
void collectWith(const Cball& ball)
{
    if (!appleInReach(ball)) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(sceneLock);
        trackApples = collectApples(trackApples, ball, applesLeft);
        if (appleRemovalHook != nullptr) {
            appleRemovalHook();
        }
    }
    const double reach = ball.radius + kAppleRadius;
    appleGrid.visitCandidates(ball.position, reach, [&](uint32_t index) {
        if (distance(appleGrid.edge(index).a, ball.position) < reach) {
            appleTaken[index] = 1;
        }
        return false;
    });
}

Cpolygon* rectangle(double left, double bottom, double right, double top)
{
    auto* polygon = new Cpolygon;
    polygon->addVertex(left, bottom);
    polygon->addVertex(right, bottom);
    polygon->addVertex(right, top);
    polygon->addVertex(left, top);
    return polygon;
}

// Moves one wheel through the step and resolves its contacts with the
// ground. lockedAngle is the wheel's angle saved when the brake was pressed.
void moveWheel(Cball& wheel, double lockedAngle, double dt, int32_t& result, Cvector& response)
{
    Cvector move(wheel.velocity);
    move.scale(dt);
    wheel.position.add(move);

    if (braking) {
        wheel.angularVelocity =
            ((lockedAngle - wheel.angle - brakeLock.frameAngle + simMoto->angle) * dt * 5000.0 +
             wheel.angularVelocity) *
            0.4;
    } else {
        wrapAngle(wheel.angle);
    }
    rearSpinChange = wheel.angularVelocity;
    wheel.angle = wheel.angle + wheel.angularVelocity * dt;

    if (applesLeft != 0) {
        collectWith(wheel);
    } else if (wheel.touches(*finishBall)) {
        result = StepFinished;
    }

    // Each pass moves the wheel back to its earliest contact and on again
    // with the response; a handful of passes settle any real situation, the
    // bound only guards the step against a degenerate geometry that would
    // never settle.
    for (int pass = 0; pass < kMaxContactPasses; ++pass) {
        contactBacktrack = 0.0;
        if (!collideGround(wheel, false)) {
            break;
        }
        const double speed = wheel.velocity.length();
        const double b = speed > 0.0 ? contactBacktrack / speed : 0.0;

        Cvector back(wheel.velocity);
        back.scale(b);
        wheel.position.subtract(back);
        wheel.angle = wheel.angle - wheel.angularVelocity * b;

        wheel.velocity.assign(response);
        wheel.angularVelocity = contactAngularVelocity;

        if (!(b > 0.0)) {
            break;
        }
        response.scale(b);
        wheel.position.add(response);
        wheel.angle = wheel.angle + wheel.angularVelocity * b;
    }
    rearSpinChange = wheel.angularVelocity - rearSpinChange;
}

}  // namespace

bool buildWorld(const std::string& path, uint64_t* digest)
{
    freeWorld();
    gameMode = true;

    Cvector* start = nullptr;
    Cvector* finish = nullptr;
    int32_t polygonCount = 0;
    Cpolygons* polygons = nullptr;
    int32_t appleCount = 0;
    Capples* apples = nullptr;
    double best = -1.0;
    // The digest is taken from the very file the world is read from, so that
    // a track rewritten meanwhile can never pass for the one built.
    std::FILE* file = openRegularStream(path);
    bool loaded = file != nullptr;
    if (loaded && digest != nullptr) {
        loaded = trackDigestOf(file, *digest) && std::fseek(file, 0, SEEK_SET) == 0;
    }
    loaded = loaded && loadTrackStream(file, start, finish, polygonCount, polygons, appleCount, apples, best);
    if (file != nullptr) {
        std::fclose(file);
    }
    if (!loaded) {
        delete start;
        delete finish;
        delete polygons;
        delete apples;
        return false;
    }

    startPosition = start;
    trackPolygons = polygons;
    trackPolygonCount = polygonCount;
    const CedgeGrid::Bounds field{kWorldLeft - kGridMargin, kWorldRight + kGridMargin,
                                  kWorldBottom - kGridMargin, kWorldTop + kGridMargin};
    groundGrid.build(trackPolygons, field, kWheelRadius);
    appleGrid.buildPoints(apples, field, kWheelRadius + kAppleRadius);
    appleTaken.assign(appleGrid.edgeCount(), 0);
    trackApples = apples;
    // The apples still to collect are the ones actually on the track, so
    // that a count the file got wrong can never keep the finish shut.
    applesLeft = 0;
    for (const Capples* apple = apples; apple != nullptr; apple = apple->next) {
        applesLeft = applesLeft + 1;
    }
    bestTime = best;

    finishBall = new Cball(kWheelRadius);
    finishBall->position.assign(*finish);
    delete finish;

    borderPolygons = new Cpolygons;
    borderPolygons->polygon = rectangle(kWorldLeft, kWorldBottom, kWorldRight, kWorldTop);
    auto* inner = new Cpolygons;
    inner->polygon = rectangle(kWorldLeft + 3.0, kWorldBottom + 3.0, kWorldRight - 3.0, kWorldTop - 3.0);
    borderPolygons->next = inner;
    inner->prev = borderPolygons;

    bestTimeText = formatRunTime(bestTime);

    turnLatch = false;
    facing = 1;
    braking = false;
    throttle = false;
    brakeLock = BrakeLock{};
    rearSpinChange = 0.0;
    cameraLead = -static_cast<double>(facing.load()) * 0.25;
    // A contact pass that chooses no contact takes the angular response left
    // by the last one chosen; a run must not inherit it from the run before.
    contactBacktrack = 0.0;
    contactVelocity = nullptr;
    contactAngularVelocity = 0.0;

    shownMoto = new Cmoto(startPosition->x, startPosition->y);
    simMoto = new Cmoto(startPosition->x, startPosition->y);

    stepCount = 0;
    clockWaiting = true;
    return true;
}

void freeWorld()
{
    delete shownMoto;
    shownMoto = nullptr;
    delete simMoto;
    simMoto = nullptr;
    delete trackPolygons;
    trackPolygons = nullptr;
    trackPolygonCount = 0;
    groundGrid.clear();
    appleGrid.clear();
    appleTaken = {};
    delete trackApples;
    trackApples = nullptr;
    applesLeft = 0;
    delete startPosition;
    startPosition = nullptr;
    delete finishBall;
    finishBall = nullptr;
    delete borderPolygons;
    borderPolygons = nullptr;
}

void applyControls()
{
    applyDrivingKeys(heldDrivingKeys());
}

void applyDrivingKeys(uint8_t keys)
{
    const bool left = (keys & KeyLeft) != 0;
    const bool right = (keys & KeyRight) != 0;
    const bool up = (keys & KeyUp) != 0;
    const bool down = (keys & KeyDown) != 0;
    const bool space = (keys & KeySpace) != 0;

    if (left) {
        simMoto->angularVelocity = simMoto->angularVelocity + 2.0;
    }
    if (right) {
        simMoto->angularVelocity = simMoto->angularVelocity - 2.0;
    }

    throttle = false;
    if (up && !down) {
        Cball& rear = *simMoto->rearWheel;
        const double f = static_cast<double>(facing.load(std::memory_order_relaxed));
        rear.angularVelocity = rear.angularVelocity - (3000.0 * f + rear.angularVelocity) * 200.0 / 3000.0;
        throttle = true;
    }

    if (down) {
        if (!braking) {
            braking = true;
            brakeLock.frameAngle = simMoto->angle;
            brakeLock.frontAngle = simMoto->frontWheel->angle;
            brakeLock.rearAngle = simMoto->rearWheel->angle;
        }
    } else {
        braking = false;
    }

    if (!space) {
        turnLatch = false;
    } else if (!turnLatch) {
        if (braking) {
            const double saved = brakeLock.frontAngle;
            brakeLock.frontAngle = brakeLock.rearAngle;
            brakeLock.rearAngle = saved;
        }
        facing = -facing.load(std::memory_order_relaxed);
        Cball* wheel = simMoto->frontWheel;
        simMoto->frontWheel = simMoto->rearWheel;
        simMoto->rearWheel = wheel;
        turnLatch = true;
    }
}

int32_t stepWorld(double dt)
{
    return stepWorldWithKeys(dt, heldDrivingKeys());
}

int32_t stepWorldWithKeys(double dt, uint8_t keys)
{
    applyDrivingKeys(keys);
    Cvector response(0.0, 0.0);
    contactVelocity = &response;
    int32_t result = StepRunning;

    moveWheel(*simMoto->frontWheel, brakeLock.frontAngle, dt, result, response);
    moveWheel(*simMoto->rearWheel, brakeLock.rearAngle, dt, result, response);

    Cvector move(simMoto->velocity);
    move.scale(dt);
    simMoto->position.add(move);
    if (simMoto->angularVelocity > 500.0) {
        simMoto->angularVelocity = 500.0;
    }
    if (simMoto->angularVelocity < -500.0) {
        simMoto->angularVelocity = -500.0;
    }
    simMoto->angle = simMoto->angle + simMoto->angularVelocity * dt;
    if (!braking) {
        wrapAngle(simMoto->angle);
    }

    simMoto->placeHead();

    if (result == StepRunning) {
        const Cball& head = *simMoto->head;
        if (applesLeft == 0) {
            if (head.touches(*finishBall)) {
                result = StepFinished;
            }
        } else {
            collectWith(head);
        }
        if (head.outsideRect(kWorldLeft, kWorldRight, kWorldBottom, kWorldTop)) {
            result = StepCrashed;
        }
        if (collideGround(head, true)) {
            result = StepCrashed;
        } else {
            simMoto->applySprings();
        }
    }

    contactVelocity = nullptr;

    const double f = static_cast<double>(facing.load(std::memory_order_relaxed));
    double lead = cameraLead.load(std::memory_order_relaxed);
    lead = lead - f * dt / 2.0;
    if (f * lead < -0.25) {
        lead = -f * 0.25;
    }
    cameraLead.store(lead, std::memory_order_relaxed);

    {
        std::lock_guard<std::mutex> guard(sceneLock);
        shownMoto->assign(*simMoto);
    }
    return result;
}
