// Replays in the game mode: every run is recorded as the driving keys its
// steps used; a new best run is written beside the track as NAME.replay;
// the end panel can watch the run just ridden or the track's best run.
//
// Threads: runRecorder, replayPlayer and the replay being watched are
// prepared on the main thread while no step runs (a run start, under
// stepLock at a restart or when watching begins) and used by
// the physics thread in stepRun until the run ends; the main thread reads
// the record only once it has seen the run's end in stepResult.
#pragma once

#include "model/Replay.h"
#include "physics/RunKeys.h"

#include <atomic>
#include <cstdint>
#include <string>

extern KeyRecorder runRecorder;
extern KeyPlayer replayPlayer;
// While set, the physics thread takes the driving keys from replayPlayer
// instead of the keyboard.
extern std::atomic<bool> replayDriving;

// One step for the physics thread: the keys from the replay or the
// keyboard, recorded, then stepWorldWithKeys. Allocates nothing.
int32_t stepRun();

// At every run start, while no step runs: a new record, and the digest of
// the track the world was built from (for the replay of this run).
void beginRun(uint64_t digest);

// The first frame that sees a run end (not a watched one): keeps the run for
// watching and, when it is a new best time, writes its replay beside the
// track, whole or not at all. A replay that cannot be written is said once
// in a panel line and the game goes on. False when it could not be written.
bool endRun(int32_t result, int32_t steps, bool newBest);

// A best run is stored beside the track (as of the run's start, or written
// since): the end panel offers B.
bool bestRunStored();
// The track has a demo for this very version of it (as of the run's start):
// the panels offer D.
bool demoStored();

// What the panels' R, B and D watch: the run just ridden, the track's best
// run, the track's demo (its proof run, shipped beside it as NAME.demo).
enum class WatchSource { LastRun, BestRun, Demo };

// What R or B would watch: the run just ridden, or the best run read from
// beside the track, checked against the track file as it is now. When there
// is nothing to watch the player is told why in a panel line (game/
// PanelLines.h) and false returns.
bool replayToWatch(WatchSource source, Replay& replay);
// Under stepLock, with the world just rebuilt for watching: the replay is
// handed to replayPlayer with replayDriving set, when it was recorded on the
// very track built (beginRun's digest). Otherwise the player is told in a
// panel line and false returns.
bool startWatching(Replay&& replay, WatchSource source);
// Back to the keyboard.
void stopWatching();
// Steps of the replay being watched, and how it ended.
int32_t watchedSteps();
int32_t watchedResult();
WatchSource watchedSource();
// The driving keys (Key* bits) the replay being watched holds at `step`.
uint8_t watchedKeysAt(int32_t step);
// "your run", "your best run", "the demo".
const char* watchSourceName(WatchSource source);

// The run just ridden, kept by endRun; empty changes when none.
const Replay& lastRunReplay();
// The run kept by endRun was recorded whole.
bool lastRunWasRecorded();
// The digest of the track the current run's world was built from.
bool currentRunDigest(uint64_t& digest);
