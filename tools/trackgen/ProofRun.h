// Proof runs: key changes with which the bike finishes a track, found and
// judged as a person would ride them.
//
// A person's keys: no key is pressed or released again within kMinKeyHold - 1
// steps of its previous change, and the keys change at most
// kMaxChangesPerSecond times a second on average over the run.
//
// A run's tolerance (its shift share): the share of kShiftTries rides in
// which every key change is moved by a random whole number of steps in
// [-kMaxShift, kMaxShift], all of them at once, that still finish. It is the
// pack's measure of difficulty: a track that forgives a person's timing
// tolerates much.
//
// Everything here builds and frees the world of velto_core (physics/World.h),
// so it runs on one thread, while nothing else uses that world.
#pragma once

#include "Tracks.h"

#include "model/KeyScript.h"
#include "model/Replay.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint64_t kMinKeyHold = 9;
inline constexpr double kMaxChangesPerSecond = 5.0;
inline constexpr int kShiftTries = 50;
inline constexpr int kMaxShift = 2;
// A person's timing: every key change off by up to 5 steps (50 ms) either
// way. The pack's difficulty is the shift share at this shift.
inline constexpr int kPersonShift = 5;
// Between the two: every key change off by up to 3 steps (30 ms), the least
// a person's timing on every pack track must bear.
inline constexpr int kMiddleShift = 3;

struct RideResult {
    int32_t result = 0;   // StepRunning, StepFinished or StepCrashed
    int32_t steps = 0;
};

// Rides the track file at `trackFile` with the key changes (in order; where
// several fall on one step the last holds) until it finishes, crashes or
// takes `maxSteps` steps. Result StepCrashed with 0 steps when the track
// cannot be read.
RideResult rideChanges(const std::string& trackFile, const std::vector<KeyChange>& changes, int32_t maxSteps);

// Empty when the changes of a run of `steps` steps keep a person's key
// rules, otherwise why not.
std::string keyRuleBreach(const std::vector<KeyChange>& changes, int32_t steps);

// The key changes with every step moved by an offset from `offsets` (one per
// change), kept at step 0 or later, in step order.
std::vector<KeyChange> shiftedChanges(const std::vector<KeyChange>& changes, const std::vector<int>& offsets);

// The share (0 to 1) of kShiftTries shifted rides of `replay` on the track
// file that finish, each within a few seconds more than the replay's own
// steps, every key change moved by a random whole number of steps in
// [-maxShift, maxShift]. The random offsets come from `seed`: the same
// replay always gets the same share. The pack is measured with the default
// seed.
double shiftShare(const std::string& trackFile, const Replay& replay, uint32_t seed = 12345u,
                  int maxShift = kMaxShift);

// How the rider searches. Keys change only every `segment` steps (at least
// kMinKeyHold); `changeCost` weighs each change against progress.
struct RiderSettings {
    int segment = 10;
    int beamWidth = 48;
    int maxSeconds = 240;
    double changeCost = 30.0;
    double changesPerSecond = 4.0;   // the search's own budget, under the rule
    // Copies of the run ridden beside it, each with its key changes moved
    // at random within the shift; the search favours runs that they finish
    // too. None: the run alone.
    int shiftedCopies = 4;
    // How far the copies' key changes stray: up to this many steps early or
    // late (at most half a segment).
    int shift = kMaxShift;
};

// Searches for a proof run of `design`, written as the track file
// `trackFile`: a beam search over held keys that follows the design's route,
// keeps a person's key rules and favours runs that tolerate shift. On success fills `replay` (track name,
// digest, result, steps, changes) after riding it again from the start.
bool findProofRun(const TrackDesign& design, const std::string& trackFile, const RiderSettings& settings,
                  Replay& replay);

// Moves single key changes of a finishing `replay` by a few steps where that
// makes it tolerate more shift (judged with other random shifts than the
// default measure's), keeping the key rules and the finish; at most
// `passes` rounds over all changes. True when it moved any. The shift share
// judged is the one at `maxShift`.
bool polishProofRun(const std::string& trackFile, Replay& replay, int passes = 3, int maxShift = kMaxShift);

// A stronger polish for a person's timing: moves key changes by 1 to 16
// steps, drops them or changes their keys wherever the run then bears shifts
// of up to `maxShift` steps better (judged on other draws than the
// measure's), keeping the key rules and the finish; `turns` lets Space be
// tried. At most `passes` rounds. True when it changed anything.
bool hardenProofRun(const std::string& trackFile, Replay& replay, int maxShift, int passes, bool turns);
