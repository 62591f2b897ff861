#include "game/GameReplay.h"

#include "game/PanelLines.h"
#include "model/Globals.h"
#include "physics/World.h"

#include <sys/stat.h>

#include <algorithm>
#include <iterator>

KeyRecorder runRecorder;
KeyPlayer replayPlayer;
std::atomic<bool> replayDriving{false};

namespace {

uint64_t runDigest = 0;

Replay lastRun;
bool haveLastRun = false;
bool lastRunRecorded = false;
bool bestStored = false;
bool demoHere = false;

void tell(const char* text)
{
    setPanelLine(kReplayPanelLine, text);
}

const char* otherTrackText(WatchSource source)
{
    switch (source) {
    case WatchSource::LastRun:
        return "The track has changed since this run was ridden.";
    case WatchSource::Demo:
        return "This version of the track has no demo.";
    case WatchSource::BestRun:
        break;
    }
    return "The replay is for another version of the track.";
}

// The replay being watched; replayPlayer reads its changes.
Replay watched;
WatchSource watchedFrom = WatchSource::LastRun;

} // namespace

int32_t stepRun()
{
    const uint64_t step = static_cast<uint64_t>(stepCount.load(std::memory_order_relaxed));
    const uint8_t keys = replayDriving.load(std::memory_order_relaxed) ? replayPlayer.keysAt(step)
                                                                       : heldDrivingKeys();
    runRecorder.record(step, keys);
    return stepWorldWithKeys(kStepSeconds, keys);
}

void beginRun(uint64_t digest)
{
    runRecorder.begin();
    runDigest = digest;
    struct stat info {};
    bestStored = ::stat(bestReplayPath(trackPath).c_str(), &info) == 0 && S_ISREG(info.st_mode);
    const std::string demoPath = demoReplayPath(trackPath);
    demoHere = false;
    if (::stat(demoPath.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        Replay demo;
        std::string error;
        demoHere = readReplayFile(demoPath, demo, error) == ReplayReadError::None && demo.digest == digest;
    }
}

bool demoStored()
{
    return demoHere;
}

bool bestRunStored()
{
    return bestStored;
}

bool endRun(int32_t result, int32_t steps, bool newBest)
{
    haveLastRun = true;
    lastRunRecorded = runRecorder.complete();
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
        bestStored = true;
        return true;
    }
    tell("The replay could not be written beside the track file.");
    return false;
}

bool replayToWatch(WatchSource source, Replay& replay)
{
    if (source == WatchSource::LastRun) {
        if (!haveLastRun || !lastRunRecorded) {
            tell(haveLastRun ? "This run was too long to be recorded." : "There is no run to watch yet.");
            return false;
        }
        replay = lastRun;
    } else {
        const bool demo = source == WatchSource::Demo;
        std::string error;
        const ReplayReadError read =
            readReplayFile(demo ? demoReplayPath(trackPath) : bestReplayPath(trackPath), replay, error);
        if (read == ReplayReadError::Missing) {
            tell(demo ? "This track has no demo." : "This track has no best run to watch yet.");
            return false;
        }
        if (read == ReplayReadError::EarlierPhysics) {
            tell(demo ? "The demo was recorded by an earlier physics and can't be watched."
                      : "The best run was recorded by an earlier physics and can't be watched.");
            return false;
        }
        if (read != ReplayReadError::None) {
            tell("The replay can't be read.");
            return false;
        }
    }
    // Watching rebuilds the world from the file as it is now.
    uint64_t digest = 0;
    if (!trackDigest(trackPath, digest) || digest != replay.digest) {
        tell(otherTrackText(source));
        return false;
    }
    return true;
}

bool startWatching(Replay&& replay, WatchSource source)
{
    if (replay.digest != runDigest) {
        tell(otherTrackText(source));
        return false;
    }
    watched = std::move(replay);
    watchedFrom = source;
    replayPlayer.begin(&watched.changes);
    replayDriving = true;
    clearPanelLine(kReplayPanelLine);
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

int32_t watchedResult()
{
    return watched.result;
}

WatchSource watchedSource()
{
    return watchedFrom;
}

uint8_t watchedKeysAt(int32_t step)
{
    // The last change at or before the step.
    const auto after = std::upper_bound(watched.changes.begin(), watched.changes.end(), step,
                                        [](int32_t s, const KeyChange& change) { return int64_t{s} < static_cast<int64_t>(change.step); });
    return after == watched.changes.begin() ? 0 : std::prev(after)->keys;
}

const char* watchSourceName(WatchSource source)
{
    switch (source) {
    case WatchSource::BestRun:
        return "your best run";
    case WatchSource::Demo:
        return "the demo";
    case WatchSource::LastRun:
        break;
    }
    return "your run";
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
    return true;
}
