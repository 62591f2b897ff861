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
#include <functional>
#include <string>

// Reads the hub's settings in `files`; when a hub is set, starts the thread,
// which first sends what waits in the outbox. True when a hub is set.
bool hubStart(const HubFiles& files);
// Where the game keeps its hub files: set at start, also when no hub is
// set, so that the player can join one from the game.
void hubSetHome(const HubFiles& files);
HubFiles hubHome();
// The folder downloaded hub tracks go to, beside the tracks folder.
std::string hubTracksFolder();
// The account the thread runs with; false when no hub is set.
bool hubCurrentAccount(HubAccount& account);
// Ends a transfer under way at once and waits for the thread.
void hubStop();
// A hub is set and the thread runs.
bool hubActive();

// A new best run: put into the outbox (with a copy of its track) before this
// returns, so that a crash or kill loses nothing, and sent by the hub's
// thread. False when no hub is set, or when the settings no longer hold the
// hub the thread started with (`velto --hub-off` from outside): then the
// thread ends and nothing is written.
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

// A run that could not be sent waits before its next try: 30 s after the
// first failed try, doubling up to an hour; a busy hub's Retry-After
// lengthens the wait (up to a day), never shortens it. After a busy answer
// or a failed connection nothing goes to the hub for the first wait (or the
// Retry-After), but a run that failed never holds back the runs behind it:
// each has its own wait, kept beside it in the outbox across restarts. A run
// is given up after kMaxSendTries tries or kMaxSendSeconds since its first
// failed try, and the game says so once (hubTakeNotice).
inline constexpr long kFirstRetrySeconds = 30;
inline constexpr long kLastRetrySeconds = 3600;
inline constexpr long kMaxRetryAfterSeconds = 86400;
inline constexpr int32_t kMaxSendTries = 30;
inline constexpr int64_t kMaxSendSeconds = int64_t{14} * 86400;
// The wait after a run's `tries`-th failed try; `retryAfter` is the hub's
// (-1 without one).
long retryWait(int32_t tries, long retryAfter);

// A line for the player about a run given up, once each; empty when there
// is none.
std::string hubTakeNotice();

// Timeouts of the exchanges (connect 3 s, whole 10 s); tests shorten them.
void hubSetTimeouts(const HubTimeouts& timeouts);
// The wall clock the waits are counted on, in seconds (time() without
// one); tests set their own and wake the thread after moving it.
void hubSetClock(std::function<int64_t()> clock);
void hubWake();
