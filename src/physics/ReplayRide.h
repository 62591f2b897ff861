// Riding a run's keys on the world built by buildWorld, as the physics
// thread would, and checking a replay against the ride: the one place that
// decides whether a replay holds, shared by velto-sim and velto-hub.
#pragma once

#include "model/KeyScript.h"
#include "model/Replay.h"

#include <cstdint>
#include <string>
#include <vector>

// Called after every step with the step's index, the keys it used and its
// result; may be empty.
class RideObserver {
public:
    virtual ~RideObserver() = default;
    virtual void afterStep(uint64_t step, uint8_t keys, int32_t result) = 0;
};

struct RideEnd {
    int32_t result = 0;  // StepRunning, StepFinished or StepCrashed
    int32_t steps = 0;   // steps taken, the last one included
};

// Rides `changes` (strictly increasing steps) from step 0 on the world that
// buildWorld made, until a step ends the run or `maxSteps` steps have run.
// Uses the run clock (stepCount) as the game does.
RideEnd rideKeys(const std::vector<KeyChange>& changes, int32_t maxSteps, RideObserver* observer = nullptr);

// Whether `replay` holds on the track whose digest is `digest`: it names that
// track, and ridden to its recorded end it ends exactly as its header says.
enum class ReplayVerdict { Holds, OtherTrack, EndsOtherwise };

struct ReplayCheck {
    ReplayVerdict verdict = ReplayVerdict::Holds;
    RideEnd end;         // the ride as it went (nothing ridden for OtherTrack)
    std::string reason;  // one line for anything but Holds
};

// Builds the world from `trackPath`, rides the replay to its recorded end
// (never beyond `maxSteps`) and frees the world. False when the track cannot
// be read. The world is process state: one check at a time per process.
bool checkReplay(const std::string& trackPath, const Replay& replay, int32_t maxSteps, ReplayCheck& check);

// The verdict of a ride that has already run: the reason is empty when the
// ride ended as the replay says.
std::string rideMismatch(const Replay& replay, const RideEnd& end);
