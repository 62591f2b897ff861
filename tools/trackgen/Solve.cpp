// velto-tracksolve OUTDIR [NAME...]: finds, for each track of the pack (or
// the ones named), a key script with which the bike reaches the finish, by a
// beam search over short key segments run with the game's own physics step.
// Writes OUTDIR/NAME.keys. A development tool: its output is checked in.
#include "Tracks.h"

#include "model/Globals.h"
#include "physics/World.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>
#include <vector>

namespace {

enum : uint8_t { KeyL = 1, KeyR = 2, KeyU = 4, KeyD = 8, KeyS = 16 };

struct Snapshot {
    Cball frame, front, rear, head;
    bool throttle = false, braking = false, turnLatch = false;
    BrakeLock brakeLock;
    double rearSpinChange = 0.0, cameraLead = 0.0;
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
    s.throttle = throttle;
    s.braking = braking;
    s.turnLatch = turnLatch;
    s.brakeLock = brakeLock;
    s.rearSpinChange = rearSpinChange;
    s.cameraLead = cameraLead;
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
    *simMoto->frontWheel = s.front;
    *simMoto->rearWheel = s.rear;
    *simMoto->head = s.head;
    throttle = s.throttle;
    braking = s.braking;
    turnLatch = s.turnLatch;
    brakeLock = s.brakeLock;
    rearSpinChange = s.rearSpinChange;
    cameraLead = s.cameraLead;
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

void holdKeys(uint8_t keys)
{
    keyDown[VK_LEFT] = (keys & KeyL) != 0;
    keyDown[VK_RIGHT] = (keys & KeyR) != 0;
    keyDown[VK_UP] = (keys & KeyU) != 0;
    keyDown[VK_DOWN] = (keys & KeyD) != 0;
    keyDown[VK_SPACE] = (keys & KeyS) != 0;
}

struct Node {
    Snapshot state;
    int history = -1;      // index into the arena of key choices
    int waypoint = 0;      // next route point to reach
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

void advanceWaypoint(Node& node, const std::vector<Point>& route)
{
    const Cvector& p = simMoto->position;
    while (node.waypoint + 1 < static_cast<int>(route.size())) {
        const Point& w = route[node.waypoint];
        if (std::hypot(p.x - w.x, p.y - w.y) > 140.0) {
            break;
        }
        ++node.waypoint;
    }
}

double scoreOf(const Node& node, const std::vector<Point>& route)
{
    const Cvector& p = simMoto->position;
    const Point& w = route[node.waypoint];
    return -20000.0 * applesLeft + 5000.0 * node.waypoint - std::hypot(p.x - w.x, p.y - w.y) -
           1.0 * uprightPenalty(simMoto->angle);
}

bool solve(const TrackDesign& design, const std::string& trackFile, std::vector<uint8_t>& keysOut,
           int segment, int beamWidth, int maxSegments, bool turns)
{
    if (!buildWorld(trackFile)) {
        return false;
    }
    std::vector<uint8_t> options = {KeyU, KeyU | KeyL, KeyU | KeyR, 0, KeyL, KeyR, KeyD, KeyD | KeyL, KeyD | KeyR};
    if (turns) {
        options.push_back(KeyS);
        options.push_back(KeyS | KeyU);
    }
    std::vector<Choice> arena;
    std::vector<Node> beam(1);
    beam[0].state = capture();
    for (int layer = 0; layer < maxSegments; ++layer) {
        std::vector<Node> next;
        for (const Node& node : beam) {
            for (uint8_t keys : options) {
                restore(node.state);
                int32_t r = StepRunning;
                holdKeys(keys);
                for (int i = 0; i < segment && r == StepRunning; ++i) {
                    r = stepWorld(kStepSeconds);
                    stepCount.fetch_add(1);
                }
                if (r == StepCrashed) {
                    continue;
                }
                arena.push_back({node.history, keys});
                if (r == StepFinished) {
                    keysOut.clear();
                    for (int h = static_cast<int>(arena.size()) - 1; h >= 0; h = arena[h].parent) {
                        keysOut.push_back(arena[h].keys);
                    }
                    std::reverse(keysOut.begin(), keysOut.end());
                    freeWorld();
                    return true;
                }
                Node child;
                child.history = static_cast<int>(arena.size()) - 1;
                child.waypoint = node.waypoint;
                advanceWaypoint(child, design.route);
                child.score = scoreOf(child, design.route);
                child.state = capture();
                next.push_back(std::move(child));
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
            const Cball& f = n.state.frame;
            const auto key = std::make_tuple(std::lround(f.position.x / 25.0), std::lround(f.position.y / 25.0),
                                             std::lround(uprightPenalty(f.angle) / 12.0),
                                             std::lround(f.velocity.x / 80.0), n.state.applesLeft);
            if (seen.count(key) != 0) {
                continue;
            }
            seen[key] = true;
            beam.push_back(std::move(n));
            if (static_cast<int>(beam.size()) >= beamWidth) {
                break;
            }
        }
        if (layer % 50 == 0) {
            const Cball& f = beam[0].state.frame;
            std::fprintf(stderr, "%s: %.1f s, best at (%.0f, %.0f) waypoint %d apples left %d\n",
                         design.name.c_str(), layer * segment * 0.01, f.position.x, f.position.y,
                         beam[0].waypoint, beam[0].state.applesLeft);
        }
    }
    freeWorld();
    return false;
}

void writeScript(const std::string& path, const std::string& name, const std::vector<uint8_t>& keys, int segment)
{
    std::ofstream out(path);
    out << "# Key script for " << name << ".vlt: found by velto-tracksolve.\n";
    int last = -1;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == last) {
            continue;
        }
        last = keys[i];
        out << i * segment;
        std::string letters;
        if (keys[i] & KeyL) letters += 'L';
        if (keys[i] & KeyR) letters += 'R';
        if (keys[i] & KeyU) letters += 'U';
        if (keys[i] & KeyD) letters += 'D';
        if (keys[i] & KeyS) letters += 'S';
        if (!letters.empty()) {
            out << ' ' << letters;
        }
        out << '\n';
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: velto-tracksolve OUTDIR [NAME...]\n");
        return 2;
    }
    const std::filesystem::path dir(argv[1]);
    std::filesystem::create_directories(dir);
    const int segment = 10;
    int status = 0;
    for (const TrackDesign& design : trackPack()) {
        bool wanted = argc == 2;
        for (int i = 2; i < argc; ++i) {
            wanted = wanted || design.name == argv[i];
        }
        if (!wanted) {
            continue;
        }
        const std::string trackFile = (std::filesystem::temp_directory_path() / (design.name + ".vlt")).string();
        writeDesign(design, trackFile);
        std::vector<uint8_t> keys;
        // Turning around is only tried where the route goes back on itself.
        bool turns = false;
        for (size_t i = 1; i + 1 < design.route.size(); ++i) {
            const double a = design.route[i].x - design.route[i - 1].x;
            const double b = design.route[i + 1].x - design.route[i].x;
            turns = turns || a * b < 0.0;
        }
        if (solve(design, trackFile, keys, segment, 48, 2500, turns)) {
            writeScript((dir / (design.name + ".keys")).string(), design.name, keys, segment);
            std::fprintf(stderr, "%s: finished after %zu steps at most\n", design.name.c_str(), keys.size() * segment);
        } else {
            std::fprintf(stderr, "%s: no way to the finish found\n", design.name.c_str());
            status = 1;
        }
        std::filesystem::remove(trackFile);
    }
    return status;
}
