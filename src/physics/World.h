// The world of one game run and the fixed physics step that moves it.
//
// Ownership: everything here is built by buildWorld and freed by freeWorld,
// on the main thread, and only while no step runs. stepWorld runs on the
// physics thread (or the headless simulator). The drawing on the main thread
// reads shownMoto, trackApples and applesLeft under sceneLock; the step
// writes them only under it. The remaining values that both threads touch
// are atomics.
#pragma once

#include "model/Apple.h"
#include "model/Polygon.h"
#include "model/Vectors.h"
#include "physics/Balls.h"
#include "physics/Motorbike.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// The playing field.
inline constexpr double kWorldLeft = -8000.0;
inline constexpr double kWorldRight = 8000.0;
inline constexpr double kWorldBottom = -6000.0;
inline constexpr double kWorldTop = 6000.0;

inline constexpr double kStepSeconds = 0.01;

// stepWorld results.
enum : int32_t { StepRunning = 0, StepFinished = 1, StepCrashed = 2 };

extern Cmoto* simMoto;            // the simulated bike
extern Cmoto* shownMoto;          // the copy the scene draws (written under sceneLock)
extern Cpolygons* trackPolygons;  // the ground, the only polygons that collide
extern int32_t trackPolygonCount;
extern Capples* trackApples;      // apples still on the track
extern int32_t applesLeft;
extern Cball* finishBall;         // radius 80/3, at rest
extern Cvector* startPosition;
extern Cpolygons* borderPolygons; // the world frame, drawn only
extern double bestTime;           // days; -1 = none
extern std::string bestTimeText;

extern std::mutex sceneLock;

// Run state, reset by buildWorld.
struct BrakeLock {
    double frameAngle = 0.0;
    double frontAngle = 0.0;   // wheel in the frontWheel slot
    double rearAngle = 0.0;    // wheel in the rearWheel slot
};
extern bool throttle;
extern bool braking;
extern BrakeLock brakeLock;
extern bool turnLatch;
extern double rearSpinChange;
extern std::atomic<double> cameraLead;   // horizontal view offset, in view widths

// Run clock.
extern std::atomic<int32_t> stepCount;
extern std::atomic<bool> clockWaiting;

// Ground contacts walk every edge of the track instead of asking the broad
// phase: the reference that the broad phase must match bit for bit (tests,
// velto-sim --brute-force). Set it only while no step runs.
extern bool bruteForceContacts;

// A test seam: called by the step right after it has removed collected
// apples, while it still holds sceneLock. Null in the game.
extern void (*appleRemovalHook)();

// Builds the world of a run from the track file at `path` (game list shape):
// finish ball, border frame, two bikes at the start, clock reset, and every
// value a step carries to the next (facing, brake lock, turn latch, the
// contact response) back at its start value, so that a run depends on its
// track and keys alone. Returns false, with nothing built, when the track cannot be read.
// Shows no message. With `digest` given, it receives the track's digest
// (model/Replay.h) taken from the same bytes as the world.
bool buildWorld(const std::string& path, uint64_t* digest = nullptr);

// Frees the world; safe after a failed buildWorld and when called twice.
void freeWorld();

// Reads the driving keys from keyDown: lean, throttle, brake, turn-around.
void applyControls();
// The same for a set of Key* bits (model/KeyScript.h) from any source.
void applyDrivingKeys(uint8_t keys);

// Advances the world by one step of dt (always 0.01 s) with the driving keys
// held on the keyboard. Returns StepRunning, StepFinished or StepCrashed.
// Allocates nothing.
int32_t stepWorld(double dt);
// The same step with the driving keys given as Key* bits, as a replay or a
// key script holds them.
int32_t stepWorldWithKeys(double dt, uint8_t keys);
