#include "game/GameReplay.h"

#include "model/Globals.h"
#include "physics/World.h"
#include "platform/MessageBox.h"

KeyRecorder runRecorder;
KeyPlayer replayPlayer;
std::atomic<bool> replayDriving{false};

namespace {

uint64_t runDigest = 0;
bool runDigestKnown = false;

Replay lastRun;
bool haveLastRun = false;
bool lastRunRecorded = false;

// The replay being watched; replayPlayer reads its changes.
Replay watched;

} // namespace

int32_t stepRun()
{
    const uint64_t step = static_cast<uint64_t>(stepCount.load(std::memory_order_relaxed));
    const uint8_t keys = replayDriving.load(std::memory_order_relaxed) ? replayPlayer.keysAt(step)
                                                                       : heldDrivingKeys();
    runRecorder.record(step, keys);
    return stepWorldWithKeys(kStepSeconds, keys);
}

void beginRun()
{
    runRecorder.begin();
    runDigestKnown = trackDigest(trackPath, runDigest);
}

bool endRun(int32_t result, int32_t steps, bool newBest)
{
    haveLastRun = true;
    lastRunRecorded = runRecorder.complete() && runDigestKnown;
    lastRun.trackName = fileNameOf(trackPath);
    lastRun.digest = runDigest;
    lastRun.result = result;
    lastRun.steps = steps;
    lastRun.changes.clear();
    if (lastRunRecorded) {
        lastRun.changes = runRecorder.changes();
    }
    if (!newBest || !lastRunRecorded) {
        return true;
    }
    if (writeReplayFile(bestReplayPath(trackPath), lastRun)) {
        return true;
    }
    messageBox("The replay could not be written beside the track file.", "Error", MB_ICONEXCLAMATION);
    return false;
}

bool startWatching(WatchSource source)
{
    if (source == WatchSource::LastRun) {
        if (!haveLastRun || !lastRunRecorded) {
            messageBox(haveLastRun ? "This run was too long to be recorded." : "There is no run to watch yet.",
                       "Replay", MB_ICONINFORMATION);
            return false;
        }
        watched = lastRun;
    } else {
        Replay best;
        std::string error;
        const ReplayReadError read = readReplayFile(bestReplayPath(trackPath), best, error);
        if (read == ReplayReadError::Missing) {
            messageBox("This track has no best run to watch yet.", "Replay", MB_ICONINFORMATION);
            return false;
        }
        if (read != ReplayReadError::None) {
            messageBox("The replay can't be read.", "Error", MB_ICONEXCLAMATION);
            return false;
        }
        if (!runDigestKnown || best.digest != runDigest) {
            messageBox("The replay is for another version of the track.", "Error", MB_ICONEXCLAMATION);
            return false;
        }
        watched = std::move(best);
    }
    replayPlayer.begin(&watched.changes);
    replayDriving = true;
    return true;
}

void stopWatching()
{
    replayDriving = false;
}

int32_t watchedSteps()
{
    return watched.steps;
}

const Replay& lastRunReplay()
{
    return lastRun;
}

bool lastRunWasRecorded()
{
    return haveLastRun && lastRunRecorded;
}

bool currentRunDigest(uint64_t& digest)
{
    digest = runDigest;
    return runDigestKnown;
}
