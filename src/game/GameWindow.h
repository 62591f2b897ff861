// The game mode: its message-or-frame loop, the state machine of a frame,
// and the physics thread that steps the world at 100 steps per second of
// real time.
//
// Threads: the main thread runs runGame and gameFrame (messages, drawing,
// world rebuilds, best-time writes); the physics thread runs physicsThread.
// They share sceneLock (physics/World.h) and the atomics below; the world is
// freed or rebuilt only under stepLock, which the physics thread holds while
// it takes steps.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Game states handed from one frame to the next. Finished and Crashed are
// the non-zero results of stepWorld.
enum : int32_t {
    GameQuit = -1,
    GameRunning = 0,
    GameFinished = 1,
    GameCrashed = 2,
    GameRestart = 3,
    GamePaused = 4,
    GameWatching = 5,      // a replay drives the bike (R or B on the end panel)
    GameWatchPaused = 6,   // the replay is held by Space
    GameTrackList = 7,     // the track list (T on the end and pause panels)
    GameWatched = 8,       // the panel after watching: what was watched, and its time
};

// Set while the editor's test ride runs the game mode on a scratch copy of
// the track: its panels say so and offer only what works there, and no best
// time is kept.
extern bool testRideActive;

// The first run after the program starts shows the game's keys in one line
// until the first key is pressed; tests set it again.
extern bool firstHintPending;

// The end panel's line about a finish against the track's par and the
// previous best time (`bestSteps` -1: none): "gold  -0.34 s vs par  -0.12 s
// vs best". Empty when there is neither to compare with.
std::string finishComparison(int32_t steps, int32_t parSteps, int32_t bestSteps);

extern int64_t perfFrequency;               // counter ticks per second
extern int64_t stepTicks;                   // ticks of one physics step
extern std::atomic<int64_t> nextStepTime;   // counter value the next step is due at
extern int64_t lastFrameTime;               // counter value at the last frame-rate measurement
extern double fpsAverage;                   // smoothed frames per second
extern std::atomic<int32_t> stepResult;     // result of the latest step
extern std::atomic<bool> physicsEnabled;    // the physics thread may take steps
extern std::mutex stepLock;                 // held by the physics thread while it steps

// The whole game mode on the settings of model/Globals.h; returns when the
// player leaves it.
void runGame();

// One frame: takes the current state, returns the next.
int32_t gameFrame(int32_t state);

// Body of the physics thread; runs until stopPhysicsThread.
void physicsThread();
// Starts the physics thread; stops it and waits for it.
void startPhysicsThread();
void stopPhysicsThread();

// The next step is due half a second from now; the frame-rate clock restarts.
void restartStepClock();

// What the panel after watching says was watched: "You watched the demo:
// finished in 00:14:27".
std::string watchedLine();

// Rebuilds the run's world from the track file once no step runs. False
// when the track can no longer be read (the player has been told).
bool restartRun();

// Seams for tests that run frames without a window. frameSceneDrawer is
// called inside sceneLock in place of drawing the scene (default drawScene;
// null draws nothing and takes no lock);
// with frameDrawing false no GL call is made by gameFrame; when frameTextLog
// is set every overlay text of a frame is appended to it.
struct OverlayText {
    std::string text;
    float r, g, b, a;
    double x, y, scale;
    bool centred;
};
extern void (*frameSceneDrawer)();
extern bool frameDrawing;
extern std::vector<OverlayText>* frameTextLog;
// Called by runGame after every pass of its loop with the current state, so
// that tests can drive and watch a real game mode from its own thread.
extern void (*gameLoopHook)(int32_t state);
