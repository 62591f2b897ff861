#include "ProofRun.h"

#include "model/Globals.h"
#include "physics/World.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <tuple>

RideResult rideChanges(const std::string& trackFile, const std::vector<KeyChange>& changes, int32_t maxSteps)
{
    RideResult ride;
    ride.result = StepCrashed;
    if (!buildWorld(trackFile)) {
        return ride;
    }
    uint8_t held = 0;
    size_t next = 0;
    int32_t result = StepRunning;
    int32_t steps = 0;
    while (result == StepRunning && steps < maxSteps) {
        while (next < changes.size() && changes[next].step <= static_cast<uint64_t>(steps)) {
            held = changes[next].keys;
            ++next;
        }
        result = stepWorldWithKeys(kStepSeconds, held);
        stepCount += 1;
        ++steps;
    }
    freeWorld();
    ride.result = result;
    ride.steps = steps;
    return ride;
}

std::string keyRuleBreach(const std::vector<KeyChange>& changes, int32_t steps)
{
    char why[160];
    uint8_t held = 0;
    uint64_t lastChange[5] = {0, 0, 0, 0, 0};
    bool changedBefore[5] = {false, false, false, false, false};
    int count = 0;
    for (size_t i = 0; i < changes.size(); ++i) {
        if (i > 0 && changes[i].step <= changes[i - 1].step) {
            std::snprintf(why, sizeof why, "the change at step %llu is out of order",
                          static_cast<unsigned long long>(changes[i].step));
            return why;
        }
        const uint8_t toggled = held ^ changes[i].keys;
        if (toggled != 0 && changes[i].step > 0) {
            ++count;
        }
        for (int key = 0; key < 5; ++key) {
            if ((toggled & (1u << key)) == 0) {
                continue;
            }
            if (changedBefore[key] && changes[i].step - lastChange[key] < kMinKeyHold) {
                std::snprintf(why, sizeof why, "a key changes again %llu steps after step %llu",
                              static_cast<unsigned long long>(changes[i].step - lastChange[key]),
                              static_cast<unsigned long long>(lastChange[key]));
                return why;
            }
            changedBefore[key] = true;
            lastChange[key] = changes[i].step;
        }
        held = changes[i].keys;
    }
    if (steps <= 0 || count > kMaxChangesPerSecond * steps * kStepSeconds) {
        std::snprintf(why, sizeof why, "%d key changes in %d steps are more than %.0f a second", count, steps,
                      kMaxChangesPerSecond);
        return why;
    }
    return {};
}

std::vector<KeyChange> shiftedChanges(const std::vector<KeyChange>& changes, const std::vector<int>& offsets)
{
    std::vector<KeyChange> shifted = changes;
    for (size_t i = 0; i < shifted.size() && i < offsets.size(); ++i) {
        const int64_t step = static_cast<int64_t>(shifted[i].step) + offsets[i];
        shifted[i].step = static_cast<uint64_t>(std::max<int64_t>(step, 0));
    }
    std::stable_sort(shifted.begin(), shifted.end(),
                     [](const KeyChange& a, const KeyChange& b) { return a.step < b.step; });
    return shifted;
}

double shiftShare(const std::string& trackFile, const Replay& replay, uint32_t seed, int maxShift)
{
    // mt19937's output is fixed by the standard; the distribution is ours,
    // so the offsets are the same with every library.
    std::mt19937 random(seed);
    const int32_t maxSteps = replay.steps + 500;
    int finished = 0;
    std::vector<int> offsets(replay.changes.size());
    for (int t = 0; t < kShiftTries; ++t) {
        for (int& offset : offsets) {
            offset = static_cast<int>(random() % static_cast<uint32_t>(2 * maxShift + 1)) - maxShift;
        }
        if (rideChanges(trackFile, shiftedChanges(replay.changes, offsets), maxSteps).result == StepFinished) {
            ++finished;
        }
    }
    return static_cast<double>(finished) / kShiftTries;
}

namespace {

// Drops the changes that come too late to matter: at or after the last step.
void trimToSteps(Replay& replay)
{
    while (!replay.changes.empty() && replay.changes.back().step >= static_cast<uint64_t>(replay.steps)) {
        replay.changes.pop_back();
    }
}

// Everything one step carries to the next, so that a search can go back.
struct Snapshot {
    Cball frame, front, rear, head;
    Cball* frontSlot = nullptr;
    Cball* rearSlot = nullptr;
    bool throttle = false, braking = false, turnLatch = false;
    BrakeLock brakeLock;
    double rearSpinChange = 0.0, cameraLead = 0.0;
    double contactBacktrack = 0.0, contactAngularVelocity = 0.0;
    int32_t facing = 1, stepCount = 0, applesLeft = 0;
    std::vector<Point> apples;
};

Snapshot capture()
{
    Snapshot s;
    s.frame = static_cast<const Cball&>(*simMoto);
    s.front = *simMoto->frontWheel;
    s.rear = *simMoto->rearWheel;
    s.head = *simMoto->head;
    s.frontSlot = simMoto->frontWheel;
    s.rearSlot = simMoto->rearWheel;
    s.throttle = throttle;
    s.braking = braking;
    s.turnLatch = turnLatch;
    s.brakeLock = brakeLock;
    s.rearSpinChange = rearSpinChange;
    s.cameraLead = cameraLead;
    s.contactBacktrack = contactBacktrack;
    s.contactAngularVelocity = contactAngularVelocity;
    s.facing = facing;
    s.stepCount = stepCount;
    s.applesLeft = applesLeft;
    for (const Capples* a = trackApples; a != nullptr; a = a->next) {
        s.apples.push_back({a->x, a->y});
    }
    return s;
}

void restore(const Snapshot& s)
{
    static_cast<Cball&>(*simMoto) = s.frame;
    simMoto->frontWheel = s.frontSlot;
    simMoto->rearWheel = s.rearSlot;
    *simMoto->frontWheel = s.front;
    *simMoto->rearWheel = s.rear;
    *simMoto->head = s.head;
    throttle = s.throttle;
    braking = s.braking;
    turnLatch = s.turnLatch;
    brakeLock = s.brakeLock;
    rearSpinChange = s.rearSpinChange;
    cameraLead = s.cameraLead;
    contactBacktrack = s.contactBacktrack;
    contactAngularVelocity = s.contactAngularVelocity;
    facing = s.facing;
    stepCount = s.stepCount;
    applesLeft = s.applesLeft;
    delete trackApples;
    trackApples = nullptr;
    Capples* tail = nullptr;
    for (const Point& p : s.apples) {
        auto* a = new Capples(p.x, p.y);
        if (tail == nullptr) {
            trackApples = a;
        } else {
            tail->next = a;
            a->prev = tail;
        }
        tail = a;
    }
}

// One way of riding the node's keys: the run itself (copy 0) or a copy in
// which every key change comes a few steps early or late.
struct Rider {
    Snapshot state;
    int waypoint = 0;   // next route point to reach
    bool alive = true;
};

struct Node {
    std::vector<Rider> riders;
    int history = -1;   // index of the last choice in the arena
    uint8_t keys = 0;
    int changes = 0;
    double score = 0.0;
};

struct Choice {
    int parent;
    uint8_t keys;
};

double uprightPenalty(double angle)
{
    double a = std::fmod(angle, 360.0);
    if (a < 0.0) {
        a += 360.0;
    }
    return std::min(a, 360.0 - a);
}

bool routeTurns(const std::vector<Point>& route)
{
    for (size_t i = 1; i + 1 < route.size(); ++i) {
        const double a = route[i].x - route[i - 1].x;
        const double b = route[i + 1].x - route[i].x;
        if (a * b < 0.0) {
            return true;
        }
    }
    return false;
}

} // namespace

bool findProofRun(const TrackDesign& design, const std::string& trackFile, const RiderSettings& settings,
                  Replay& replay)
{
    if (design.route.empty() || !buildWorld(trackFile)) {
        return false;
    }
    const int segment = std::max<int>(settings.segment, static_cast<int>(kMinKeyHold));
    std::vector<uint8_t> options = {KeyUp, KeyUp | KeyLeft, KeyUp | KeyRight, 0, KeyLeft, KeyRight,
                                    KeyDown, KeyDown | KeyLeft, KeyDown | KeyRight};
    // Turning around is only tried where the route goes back on itself.
    if (routeTurns(design.route)) {
        options.push_back(KeySpace);
        options.push_back(KeySpace | KeyUp);
    }
    const auto& route = design.route;
    // The run changes keys `shift` steps into a segment; its copies change
    // them anywhere from 0 to 2 * shift steps in.
    const int shift = std::clamp(settings.shift, 0, segment / 2);
    std::mt19937 random(777u);
    const int riders = 1 + std::max(0, settings.shiftedCopies);
    std::vector<Choice> arena;
    std::vector<Node> beam(1);
    beam[0].riders.assign(riders, Rider{capture(), 0, true});
    const int layers = settings.maxSeconds * 100 / segment;
    int found = -1;
    int foundSteps = 0;
    std::vector<int> lags(riders, shift);
    for (int layer = 0; layer < layers && found < 0; ++layer) {
        const double seconds = (layer + 1) * segment * kStepSeconds;
        const double budget = 2.0 + settings.changesPerSecond * seconds;
        std::vector<Node> next;
        for (const Node& node : beam) {
            for (uint8_t keys : options) {
                const bool change = layer > 0 && keys != node.keys;
                if (change && node.changes + 1 > budget) {
                    continue;
                }
                for (int r = 1; r < riders; ++r) {
                    lags[r] = change ? static_cast<int>(random() % static_cast<uint32_t>(2 * shift + 1)) : 0;
                }
                lags[0] = change ? shift : 0;
                Node child;
                child.riders = node.riders;
                int alive = 0;
                double total = 0.0;
                bool finished = false;
                for (int r = 0; r < riders; ++r) {
                    Rider& rider = child.riders[r];
                    if (!rider.alive) {
                        continue;
                    }
                    restore(rider.state);
                    int32_t result = StepRunning;
                    for (int i = 0; i < segment && result == StepRunning; ++i) {
                        result = stepWorldWithKeys(kStepSeconds, i < lags[r] ? node.keys : keys);
                        stepCount += 1;
                    }
                    if (result == StepCrashed) {
                        rider.alive = false;
                        if (r == 0) {
                            break;
                        }
                        continue;
                    }
                    if (r == 0 && result == StepFinished) {
                        finished = true;
                        foundSteps = stepCount;
                        break;
                    }
                    const Cvector& p = simMoto->position;
                    while (rider.waypoint + 1 < static_cast<int>(route.size()) &&
                           std::hypot(p.x - route[rider.waypoint].x, p.y - route[rider.waypoint].y) <= 140.0) {
                        ++rider.waypoint;
                    }
                    const Point& w = route[rider.waypoint];
                    // A finished copy is as good as it gets.
                    total += result == StepFinished
                                 ? 5000.0 * static_cast<double>(route.size())
                                 : -20000.0 * applesLeft + 5000.0 * rider.waypoint - std::hypot(p.x - w.x, p.y - w.y) -
                                       uprightPenalty(simMoto->angle);
                    if (result == StepRunning) {
                        rider.state = capture();
                    } else {
                        rider.alive = false;
                    }
                    ++alive;
                }
                if (!child.riders[0].alive && !finished) {
                    continue;
                }
                arena.push_back({node.history, keys});
                if (finished) {
                    found = static_cast<int>(arena.size()) - 1;
                    break;
                }
                child.history = static_cast<int>(arena.size()) - 1;
                child.keys = keys;
                child.changes = node.changes + (change ? 1 : 0);
                child.score = total / alive - 8000.0 * (riders - alive) - settings.changeCost * child.changes;
                next.push_back(std::move(child));
            }
            if (found >= 0) {
                break;
            }
        }
        if (next.empty()) {
            break;
        }
        std::sort(next.begin(), next.end(), [](const Node& a, const Node& b) { return a.score > b.score; });
        // Keep the best of each neighbourhood of states, so the beam stays varied.
        std::map<std::tuple<long, long, long, long, int>, bool> seen;
        beam.clear();
        for (Node& n : next) {
            const Cball& f = n.riders[0].state.frame;
            const auto key = std::make_tuple(std::lround(f.position.x / 25.0), std::lround(f.position.y / 25.0),
                                             std::lround(uprightPenalty(f.angle) / 12.0),
                                             std::lround(f.velocity.x / 80.0), n.riders[0].state.applesLeft);
            if (seen.count(key) != 0) {
                continue;
            }
            seen[key] = true;
            beam.push_back(std::move(n));
            if (static_cast<int>(beam.size()) >= settings.beamWidth) {
                break;
            }
        }
    }
    freeWorld();
    if (found < 0) {
        return false;
    }
    std::vector<uint8_t> keys;
    for (int h = found; h >= 0; h = arena[h].parent) {
        keys.push_back(arena[h].keys);
    }
    std::reverse(keys.begin(), keys.end());
    replay = Replay{};
    replay.trackName = design.name + ".vlt";
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i == 0) {
            replay.changes.push_back({0, keys[0]});
        } else if (keys[i] != keys[i - 1]) {
            replay.changes.push_back({static_cast<uint64_t>(static_cast<int>(i) * segment + shift), keys[i]});
        }
    }
    // Ridden again from the start, as velto-sim and the game will.
    const RideResult ride = rideChanges(trackFile, replay.changes, foundSteps + 1);
    if (ride.result != StepFinished || !trackDigest(trackFile, replay.digest)) {
        return false;
    }
    replay.result = ReplayFinished;
    replay.steps = ride.steps;
    trimToSteps(replay);
    return keyRuleBreach(replay.changes, replay.steps).empty();
}

bool polishProofRun(const std::string& trackFile, Replay& replay, int passes, int maxShift)
{
    // Judged on other shifts than shiftShare's own, so that the polish
    // cannot simply learn the measure's draws.
    constexpr uint32_t kPolishSeed = 4242u;
    double best = shiftShare(trackFile, replay, kPolishSeed, maxShift);
    bool improved = false;
    for (int pass = 0; pass < passes; ++pass) {
        bool moved = false;
        for (size_t i = 1; i < replay.changes.size(); ++i) {
            for (int delta : {-6, -3, 3, 6}) {
                Replay candidate = replay;
                const int64_t step = static_cast<int64_t>(candidate.changes[i].step) + delta;
                if (step <= static_cast<int64_t>(candidate.changes[i - 1].step) ||
                    (i + 1 < candidate.changes.size() && step >= static_cast<int64_t>(candidate.changes[i + 1].step))) {
                    continue;
                }
                candidate.changes[i].step = static_cast<uint64_t>(step);
                const RideResult ride = rideChanges(trackFile, candidate.changes, replay.steps + 500);
                if (ride.result != StepFinished) {
                    continue;
                }
                candidate.steps = ride.steps;
                trimToSteps(candidate);
                if (!keyRuleBreach(candidate.changes, candidate.steps).empty()) {
                    continue;
                }
                const double share = shiftShare(trackFile, candidate, kPolishSeed, maxShift);
                if (share > best) {
                    best = share;
                    replay = candidate;
                    moved = true;
                    improved = true;
                }
            }
        }
        if (!moved) {
            break;
        }
    }
    return improved;
}

namespace {

// How well a run bears shifts of up to `maxShift` steps: the share of
// shifted rides (two sets of draws, neither the measure's) that finish, plus
// a little for how far the others get, so that a search can climb.
double hardiness(const std::string& trackFile, const Replay& replay, int maxShift)
{
    const int32_t maxSteps = replay.steps + 500;
    double total = 0.0;
    int rides = 0;
    std::vector<int> offsets(replay.changes.size());
    for (uint32_t seed : {4242u, 9001u}) {
        std::mt19937 random(seed);
        for (int t = 0; t < kShiftTries; ++t) {
            for (int& offset : offsets) {
                offset = static_cast<int>(random() % static_cast<uint32_t>(2 * maxShift + 1)) - maxShift;
            }
            const RideResult ride = rideChanges(trackFile, shiftedChanges(replay.changes, offsets), maxSteps);
            total += ride.result == StepFinished ? 1.0
                                                 : 0.3 * std::min(1.0, static_cast<double>(ride.steps) / replay.steps);
            ++rides;
        }
    }
    return total / rides;
}

} // namespace

bool hardenProofRun(const std::string& trackFile, Replay& replay, int maxShift, int passes, bool turns)
{
    std::vector<uint8_t> options = {KeyUp, KeyUp | KeyLeft, KeyUp | KeyRight, 0, KeyLeft, KeyRight,
                                    KeyDown, KeyDown | KeyLeft, KeyDown | KeyRight};
    if (turns) {
        options.push_back(KeySpace);
        options.push_back(KeySpace | KeyUp);
    }
    double best = hardiness(trackFile, replay, maxShift);
    bool improved = false;
    std::mt19937 random(99u);
    auto tryCandidate = [&](Replay candidate) {
        const RideResult ride = rideChanges(trackFile, candidate.changes, replay.steps + 500);
        if (ride.result != StepFinished) {
            return false;
        }
        candidate.steps = ride.steps;
        trimToSteps(candidate);
        if (!keyRuleBreach(candidate.changes, candidate.steps).empty()) {
            return false;
        }
        const double score = hardiness(trackFile, candidate, maxShift);
        if (score <= best) {
            return false;
        }
        best = score;
        replay = candidate;
        improved = true;
        std::fprintf(stderr, "  %.3f (%zu changes, %d steps)\n", best, replay.changes.size(), replay.steps);
        return true;
    };
    for (int pass = 0; pass < passes; ++pass) {
        bool moved = false;
        std::vector<size_t> order;
        for (size_t i = 1; i < replay.changes.size(); ++i) {
            order.push_back(i);
        }
        std::shuffle(order.begin(), order.end(), random);
        for (size_t i : order) {
            if (i >= replay.changes.size()) {
                continue;
            }
            // drop the change
            {
                Replay candidate = replay;
                candidate.changes.erase(candidate.changes.begin() + static_cast<long>(i));
                if (tryCandidate(candidate)) {
                    moved = true;
                    continue;
                }
            }
            for (int delta : {-16, -10, -6, -3, -1, 1, 3, 6, 10, 16}) {
                Replay candidate = replay;
                const int64_t step = static_cast<int64_t>(candidate.changes[i].step) + delta;
                if (step <= static_cast<int64_t>(candidate.changes[i - 1].step) ||
                    (i + 1 < candidate.changes.size() && step >= static_cast<int64_t>(candidate.changes[i + 1].step))) {
                    continue;
                }
                candidate.changes[i].step = static_cast<uint64_t>(step);
                moved = tryCandidate(candidate) || moved;
            }
            for (uint8_t keys : options) {
                if (keys == replay.changes[i].keys || keys == replay.changes[i - 1].keys) {
                    continue;
                }
                Replay candidate = replay;
                candidate.changes[i].keys = keys;
                moved = tryCandidate(candidate) || moved;
            }
        }
        if (!moved) {
            break;
        }
    }
    return improved;
}
