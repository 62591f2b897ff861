// The hub's background thread: it sends best runs from the outbox and
// fetches record replays, so that no frame ever waits for the network.
//
// The main thread only puts work in and reads answers; both are guarded by
// one lock that the background thread never holds across a network
// exchange. Nothing is sent unless the player has registered on a hub
// (net/HubStore.h): without a Velto.hub file no thread is started.
#pragma once

#include "model/Replay.h"
#include "net/HubStore.h"

#include <cstdint>
#include <string>

// Reads the hub's settings in `files`; when a hub is set, starts the thread,
// which first sends what waits in the outbox. True when a hub is set.
bool hubStart(const HubFiles& files);
// Ends a transfer under way at once and waits for the thread.
void hubStop();
// A hub is set and the thread runs.
bool hubActive();

// A new best run, handed to the hub's thread, which puts it into the outbox
// (with a copy of its track) and sends it; a run handed over is put into the
// outbox even when the game ends at once. False when no hub is set.
bool hubSubmitBest(const Replay& replay, const std::string& trackPath);

// The end panel's line for the run last sent on a track: empty while none
// was sent in this session, "World: sending..." until the hub answers.
std::string hubSubmitLine(uint64_t digest);

// The record of a track, asked for by W.
enum class HubRecordState { None, Fetching, Ready, Failed };
struct HubRecord {
    HubRecordState state = HubRecordState::None;
    std::string replayText;   // Ready: the record's replay
    std::string holder;
    std::string line;         // Failed: why there is none ("No record yet", ...)
};
void hubRequestRecord(uint64_t digest);
HubRecord hubRecord(uint64_t digest);

// The world records of all the hub's tracks, for the track list: asked for
// when the list opens, looked up by digest while it shows.
void hubRequestTrackRecords();
// The state of the table, and why it failed ("hub unreachable", ...).
HubRecordState hubTrackRecordsState(std::string& why);
// The record of one track; false when the table has none for it.
bool hubTrackRecord(uint64_t digest, int32_t& steps, std::string& holder);

// Timeouts of the exchanges (connect 3 s, whole 10 s); tests shorten them.
void hubSetTimeouts(const HubTimeouts& timeouts);
// Seconds before runs that could not be sent are tried again in the same
// session (the first wait; it doubles up to ten minutes).
void hubSetRetryDelay(long seconds);
