// Replays in the game mode: every run is recorded as the driving keys its
// steps used; a new best run is written beside the track as NAME.replay;
// the end panel can watch the run just ridden or the track's best run.
//
// Threads: runRecorder and replayPlayer are prepared on the main thread
// while no step runs (a run start, under stepLock at a restart) and used by
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
// the track as it is now (for the replay of this run).
void beginRun();

// The first frame that sees a run end (not a watched one): keeps the run for
// watching and, when it is a new best time, writes its replay beside the
// track, whole or not at all. A replay that cannot be written is reported
// once and the game goes on. False when it could not be written.
bool endRun(int32_t result, int32_t steps, bool newBest);

// What the end panel's R and B watch.
enum class WatchSource { LastRun, BestRun };

// Prepares watching: the replay is loaded (for the best run, read from
// beside the track and checked against the track's digest) and handed to
// replayPlayer with replayDriving set. When there is nothing to watch the
// player is told why and false returns. The caller rebuilds the world.
bool startWatching(WatchSource source);
// Back to the keyboard.
void stopWatching();
// Steps of the replay being watched.
int32_t watchedSteps();

// The run just ridden, kept by endRun; empty changes when none.
const Replay& lastRunReplay();
// The run kept by endRun was recorded whole.
bool lastRunWasRecorded();
// The digest of the track as the current run started; false when the track
// could not be read for it.
bool currentRunDigest(uint64_t& digest);
