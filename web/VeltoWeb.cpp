// The physics of a run for a web page: the game's track reader, its replay
// parser and its fixed step, behind a few C functions that the page's script
// calls. A page loads a track's bytes, then a replay's text, and steps the
// ride, reading the bike after each batch of steps.
//
// Everything lives in the module's memory, so that the page can keep the
// whole memory as a snapshot and go back to it: no state is kept in
// JavaScript or in the file system between calls, except the track file
// written once by velto_load_track.
#include "model/Globals.h"
#include "model/Replay.h"
#include "model/RunTime.h"
#include "physics/RunDigest.h"
#include "physics/RunKeys.h"
#include "physics/World.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <emscripten/emscripten.h>
#include <unistd.h>

namespace {

// Where the loaded track's bytes are kept, for rebuilding its world.
constexpr const char* kTrackPath = "/ride.vlt";
// A track file larger than this is not written at all (the reader bounds
// what it builds from any file; this only bounds the copy).
constexpr int kMaxTrackBytes = 64 << 20;

bool haveTrack = false;
uint64_t trackDigestValue = 0;
bool haveReplay = false;
Replay replay;
KeyPlayer player;
RunDigest digest;
int32_t lastResult = StepRunning;
uint8_t lastKeys = 0;
bool rideOver = false;
std::string errorText;
std::string digestText;
std::string clockText;
std::vector<double> geometry;
std::vector<double> apples;

// step, result, apples left, facing, camera lead, keys, over, then x, y and
// angle of the frame, the front and rear wheels, head x, y.
double state[20];

void startRide()
{
    player.begin(&replay.changes);
    digest = RunDigest{};
    lastResult = StepRunning;
    lastKeys = 0;
    rideOver = false;
}

}  // namespace

extern "C" {

// Reads a track from its bytes with the game's reader. 1 on success; 0 with
// velto_error() saying why.
EMSCRIPTEN_KEEPALIVE int velto_load_track(const unsigned char* bytes, int size)
{
    haveTrack = false;
    haveReplay = false;
    freeWorld();
    if (size < 0 || size > kMaxTrackBytes) {
        errorText = "the track is too large";
        return 0;
    }
    std::FILE* file = std::fopen(kTrackPath, "wb");
    const bool written = file != nullptr &&
                         std::fwrite(bytes, 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
    const bool closed = file != nullptr && std::fclose(file) == 0;
    if (!written || !closed) {
        errorText = "the track cannot be kept";
        return 0;
    }
    clearKeys();
    if (!buildWorld(kTrackPath, &trackDigestValue)) {
        freeWorld();
        unlink(kTrackPath);
        errorText = "Cant't load the track.";
        return 0;
    }
    haveTrack = true;
    replay = Replay{};
    startRide();
    return 1;
}

// Parses a replay of the loaded track and sets the world back to its start.
// 1 on success; 0 with velto_error() saying why (malformed, an earlier
// physics, another track).
EMSCRIPTEN_KEEPALIVE int velto_load_replay(const char* text, int size)
{
    haveReplay = false;
    if (!haveTrack) {
        errorText = "no track loaded";
        return 0;
    }
    if (size < 0 || static_cast<size_t>(size) > kMaxReplayBytes) {
        errorText = "the replay is too large";
        return 0;
    }
    std::string error;
    const ReplayReadError read = parseReplayText(std::string(text, static_cast<size_t>(size)), replay, error);
    if (read == ReplayReadError::EarlierPhysics) {
        errorText = error + "; it does not ride on this version";
        return 0;
    }
    if (read != ReplayReadError::None) {
        errorText = error;
        return 0;
    }
    if (replay.digest != trackDigestValue) {
        errorText = "a replay of another track or another version of it (" + escapedTrackName(replay.trackName) + ")";
        return 0;
    }
    clearKeys();
    uint64_t rebuilt = 0;
    if (!buildWorld(kTrackPath, &rebuilt) || rebuilt != trackDigestValue) {
        errorText = "Cant't load the track.";
        return 0;
    }
    haveReplay = true;
    startRide();
    return 1;
}

// Rides up to `count` steps of the replay, as the physics thread does; stops
// at the step that ends the run or at the replay's recorded end. Returns the
// steps taken.
EMSCRIPTEN_KEEPALIVE int velto_step(int count)
{
    if (!haveReplay) {
        return 0;
    }
    int taken = 0;
    while (taken < count && !rideOver) {
        const uint64_t step = static_cast<uint64_t>(stepCount.load());
        lastKeys = player.keysAt(step);
        clockWaiting = false;
        lastResult = stepWorldWithKeys(kStepSeconds, lastKeys);
        stepCount += 1;
        digest.addStep(lastResult);
        taken += 1;
        rideOver = lastResult != StepRunning || stepCount.load() >= replay.steps;
    }
    return taken;
}

// The bike and the run after the last step (see `state` above).
EMSCRIPTEN_KEEPALIVE const double* velto_state()
{
    std::memset(state, 0, sizeof state);
    if (simMoto == nullptr) {
        return state;
    }
    const Cball* balls[] = {simMoto, simMoto->frontWheel, simMoto->rearWheel};
    state[0] = stepCount.load();
    state[1] = lastResult;
    state[2] = applesLeft;
    state[3] = facing.load();
    state[4] = cameraLead.load();
    state[5] = lastKeys;
    state[6] = rideOver ? 1.0 : 0.0;
    int i = 7;
    for (const Cball* ball : balls) {
        state[i++] = ball->position.x;
        state[i++] = ball->position.y;
        state[i++] = ball->angle;
    }
    state[i++] = simMoto->head->position.x;
    state[i] = simMoto->head->position.y;
    return state;
}

// The run's digest so far, as velto-sim --digest prints it.
EMSCRIPTEN_KEEPALIVE const char* velto_digest()
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest.value()));
    digestText = text;
    return digestText.c_str();
}

// The run clock as the game shows it.
EMSCRIPTEN_KEEPALIVE const char* velto_clock()
{
    clockText = formatRunTime(runTimeOfSteps(stepCount.load()));
    return clockText.c_str();
}

// The replay's recorded steps and result.
EMSCRIPTEN_KEEPALIVE int velto_replay_steps() { return haveReplay ? replay.steps : 0; }
EMSCRIPTEN_KEEPALIVE int velto_replay_result() { return haveReplay ? replay.result : 0; }

// The track as the world holds it, for drawing: start x, y, finish x, y,
// then per ground polygon its vertex count and the vertices' x, y. Returns
// the count of doubles at velto_buffer().
EMSCRIPTEN_KEEPALIVE int velto_geometry()
{
    geometry.clear();
    if (!haveTrack) {
        return 0;
    }
    geometry.push_back(startPosition->x);
    geometry.push_back(startPosition->y);
    geometry.push_back(finishBall->position.x);
    geometry.push_back(finishBall->position.y);
    for (const Cpolygons* node = trackPolygons; node != nullptr; node = node->next) {
        const Cpolygon* polygon = node->polygon;
        if (polygon == nullptr) {
            continue;
        }
        const size_t at = geometry.size();
        geometry.push_back(0.0);
        int32_t n = 0;
        for (const Cvertex* v = polygon->first; v != nullptr && n < polygon->count; v = v->next, ++n) {
            geometry.push_back(v->x);
            geometry.push_back(v->y);
        }
        geometry[at] = n;
    }
    return static_cast<int>(geometry.size());
}

// The apples still on the track: x, y each. Returns the count of doubles at
// velto_apple_buffer().
EMSCRIPTEN_KEEPALIVE int velto_apples()
{
    apples.clear();
    for (const Capples* apple = trackApples; apple != nullptr; apple = apple->next) {
        apples.push_back(apple->x);
        apples.push_back(apple->y);
    }
    return static_cast<int>(apples.size());
}

EMSCRIPTEN_KEEPALIVE const double* velto_buffer() { return geometry.data(); }
EMSCRIPTEN_KEEPALIVE const double* velto_apple_buffer() { return apples.data(); }

EMSCRIPTEN_KEEPALIVE const char* velto_error() { return errorText.c_str(); }

// The end of the memory in use, for the page's snapshots.
EMSCRIPTEN_KEEPALIVE uintptr_t velto_memory_used() { return reinterpret_cast<uintptr_t>(sbrk(0)); }

}  // extern "C"
