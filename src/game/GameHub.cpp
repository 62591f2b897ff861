#include "game/GameHub.h"

#include "game/GameGhost.h"
#include "game/GameReplay.h"
#include "game/GameWindow.h"
#include "game/PanelLines.h"
#include "model/Globals.h"
#include "model/Replay.h"
#include "model/RunTime.h"
#include "net/HubService.h"
#include "physics/RunKeys.h"
#include "physics/World.h"

#include <mutex>

namespace {

// The keys of the hub's panel lines (game/PanelLines.h).
const char* const kWorldLine = "world";
const char* const kRecordLine = "record";
const char* const kNoticeLine = "hub";

bool sending = true;

// The run of this end panel went to the hub.
bool submitted = false;
uint64_t submittedDigest = 0;

// W: where the track's record stands.
enum class Record { Off, Fetching, Unchecked, Racing, Problem };
Record record = Record::Off;
uint64_t recordDigest = 0;
std::string recordLine;
Replay uncheckedRecord;     // arrived, checked at the next run start
std::string recordHolder;
// A run given up by the hub's thread, told on the panels until the next run.
std::string noticeLine;

std::string racingLine(const Replay& replay)
{
    return "Record ghost: " + formatRunTime(runTimeOfSteps(replay.steps)) + " by " + recordHolder;
}

void refuse(const std::string& line)
{
    record = Record::Problem;
    recordLine = line;
    clearRecordGhost();
}

// Rides the record while the run waits on its panel: the record's ride takes
// the world of physics/World.h, so the run's world is built again and ridden
// up to where it stands, from its own recorded keys. The physics is
// deterministic, so the run is back exactly as it was.
bool raceOnPanel(const Replay& replay, bool& sameTrack)
{
    // A track file edited while the run waits: the run keeps its world, and
    // the record is not ridden on what the file holds now.
    uint64_t runDigest = 0;
    uint64_t fileDigest = 0;
    if (!currentRunDigest(runDigest) || !trackDigest(trackPath, fileDigest) || fileDigest != runDigest) {
        sameTrack = false;
        return false;
    }
    std::lock_guard<std::mutex> stepping(stepLock);
    const int32_t steps = stepCount.load();
    const bool waiting = clockWaiting.load();
    const double best = bestTime;
    const std::string bestText = bestTimeText;
    const bool finishes = computeRecordGhost(trackPath, replay);
    uint64_t digest = 0;
    if (!buildWorld(trackPath, &digest)) {
        return finishes;   // the caller sees that the world is gone
    }
    sameTrack = digest == replay.digest;
    KeyPlayer keys;
    keys.begin(&runRecorder.changes());
    for (int32_t step = 0; step < steps; ++step) {
        stepWorldWithKeys(kStepSeconds, keys.keysAt(static_cast<uint64_t>(step)));
    }
    stepCount = steps;
    clockWaiting = waiting;
    bestTime = best;
    bestTimeText = bestText;
    return finishes;
}

} // namespace

void setHubSending(bool on)
{
    sending = on;
}

void hubRunEnded(bool newBest)
{
    submitted = false;
    if (!sending || !newBest || !hubActive() || !lastRunWasRecorded()) {
        return;
    }
    submitted = hubSubmitBest(lastRunReplay(), trackPath) || !hubSubmitLine(lastRunReplay().digest).empty();
    submittedDigest = lastRunReplay().digest;
}

void hubRecordKey()
{
    uint64_t digest = 0;
    if (!hubActive() || !currentRunDigest(digest)) {
        return;
    }
    if (record == Record::Racing || record == Record::Unchecked || record == Record::Fetching) {
        record = Record::Off;
        clearRecordGhost();
        return;
    }
    record = Record::Fetching;
    recordDigest = digest;
    recordLine = "World record: fetching...";
    hubRequestRecord(digest);
}

namespace {

// Takes a record that has arrived. False when the world is gone.
bool takeRecord()
{
    if (record != Record::Fetching) {
        return true;
    }
    const HubRecord answer = hubRecord(recordDigest);
    if (answer.state == HubRecordState::Fetching || answer.state == HubRecordState::None) {
        return true;
    }
    if (answer.state == HubRecordState::Failed) {
        refuse(answer.line);
        return true;
    }
    Replay replay;
    std::string error;
    if (!parseReplay(answer.replayText, replay, error)) {
        refuse("record refused: its replay cannot be read");
        return true;
    }
    if (replay.digest != recordDigest) {
        refuse("record refused: it is for another version of the track");
        return true;
    }
    recordHolder = answer.holder;
    recordGhostName = answer.holder;
    if (!runRecorder.complete()) {
        // This run cannot be ridden again: the record is checked when the
        // next one starts.
        uncheckedRecord = replay;
        record = Record::Unchecked;
        recordLine = "Record ghost: checked when the next run starts";
        return true;
    }
    bool sameTrack = false;
    const bool finishes = raceOnPanel(replay, sameTrack);
    if (simMoto == nullptr) {
        return false;
    }
    if (!sameTrack) {
        refuse("record refused: the track file has changed");
    } else if (finishes) {
        record = Record::Racing;
        recordLine = racingLine(replay);
    } else {
        refuse("record refused: it does not finish as it says on this track");
    }
    return true;
}

} // namespace

bool hubPanelFrame()
{
    if (!takeRecord()) {
        return false;
    }
    const std::string world = submitted ? hubSubmitLine(submittedDigest) : std::string();
    setPanelLine(kWorldLine, world);
    setPanelLine(kRecordLine, record != Record::Off ? recordLine : std::string());
    if (noticeLine.empty()) {
        noticeLine = hubTakeNotice();
    }
    setPanelLine(kNoticeLine, noticeLine == world ? std::string() : noticeLine);
    return true;
}

void hubRunStarting()
{
    submitted = false;
    noticeLine.clear();
    if (record == Record::Off) {
        return;
    }
    uint64_t digest = 0;
    if (!trackDigest(trackPath, digest) || digest != recordDigest || record == Record::Problem) {
        record = Record::Off;
        clearRecordGhost();
        return;
    }
    if (record == Record::Unchecked) {
        if (computeRecordGhost(trackPath, uncheckedRecord)) {
            record = Record::Racing;
            recordLine = racingLine(uncheckedRecord);
        } else {
            refuse("record refused: it does not finish as it says on this track");
        }
    }
}
