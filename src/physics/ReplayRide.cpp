#include "physics/ReplayRide.h"

#include "model/Globals.h"
#include "physics/RunKeys.h"
#include "physics/World.h"

#include <algorithm>

RideEnd rideKeys(const std::vector<KeyChange>& changes, int32_t maxSteps, RideObserver* observer)
{
    KeyPlayer player;
    player.begin(&changes);
    RideEnd end;
    for (uint64_t step = 0;; ++step) {
        const uint8_t keys = player.keysAt(step);
        clockWaiting = false;
        end.result = stepWorldWithKeys(kStepSeconds, keys);
        stepCount += 1;
        if (observer != nullptr) {
            observer->afterStep(step, keys, end.result);
        }
        if (end.result != StepRunning || stepCount.load() >= maxSteps) {
            break;
        }
    }
    end.steps = stepCount.load();
    return end;
}

std::string rideMismatch(const Replay& replay, const RideEnd& end)
{
    if (end.result == replay.result && end.steps == replay.steps) {
        return {};
    }
    return "the ride ends " + std::string(replayResultName(end.result)) + " after " + std::to_string(end.steps) +
           " steps, the replay says " + replayResultName(replay.result) + " after " +
           std::to_string(replay.steps);
}

bool checkReplay(const std::string& trackPath, const Replay& replay, int32_t maxSteps, ReplayCheck& check)
{
    check = ReplayCheck{};
    uint64_t digest = 0;
    clearKeys();
    if (!buildWorld(trackPath, &digest)) {
        freeWorld();
        return false;
    }
    if (replay.digest != digest) {
        check.verdict = ReplayVerdict::OtherTrack;
        check.reason = "a replay of another track or another version of it (" + escapedTrackName(replay.trackName) + ")";
        freeWorld();
        return true;
    }
    // Ridden to its recorded end: a run that ends sooner, or still runs
    // there when it should have ended, does not hold.
    check.end = rideKeys(replay.changes, std::clamp<int32_t>(replay.steps, 1, std::max<int32_t>(maxSteps, 1)));
    freeWorld();
    check.reason = rideMismatch(replay, check.end);
    check.verdict = check.reason.empty() ? ReplayVerdict::Holds : ReplayVerdict::EndsOtherwise;
    return true;
}
