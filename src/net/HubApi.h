// What the game asks of a hub, and what the answers mean to the player.
//
// The hub's interface: POST /api/players {"name"} registers a name and
// answers 201 {"token"}; POST /api/tracks stores a track file (its name in
// X-Velto-Name); POST /api/runs takes a replay from a registered player
// (X-Velto-Player, X-Velto-Token) and answers {"track", "steps", "time",
// "rank", "of"}; GET /api/tracks/{digest}/times?limit=N lists the best runs
// and GET /api/tracks/{digest}/runs/{rank}.replay gives one. A refusal is
// one JSON object {"error": "..."}; 429 and 503 carry Retry-After.
//
// Answers are never trusted: anything that is not what the interface says
// counts as a hub that answered nonsense.
#pragma once

#include "net/HubHttp.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

struct HubAccount {
    std::string url;     // http:// or https://, without a trailing slash
    std::string name;
    std::string token;
};

// The URL as kept: scheme checked, trailing slashes dropped. False, with
// `why` set, for anything but an http or https URL with a host.
bool normaliseHubUrl(const std::string& text, std::string& url, std::string& why);

// Names the hub takes: 1 to 24 characters, letters, digits, space, - and _,
// with no space at either end and never two in a row. What is wrong with a
// name, for the player, or "" for a good one.
std::string playerNameProblem(const std::string& name);
bool validPlayerName(const std::string& name);

// JSON `text` nests no deeper than `maxDepth` arrays and objects: checked on
// the bytes, before anything is parsed.
bool jsonDepthWithin(const std::string& text, int maxDepth);

// "1st", "2nd", "3rd", "4th", "11th", "21st", ...
std::string ordinal(int32_t n);

// Text from a hub made fit for the screen and a terminal: printable ASCII
// only (others become '?'), at most `limit` characters.
std::string printableText(const std::string& text, size_t limit = 60);

// The 16 lower-case hex digits of a digest, as replays and the hub write it.
std::string digestHex(uint64_t digest);
bool parseDigestHex(const std::string& text, uint64_t& digest);

struct RegisterResult {
    bool ok = false;
    std::string token;
    std::string message;   // why not, for the player
};
RegisterResult registerPlayer(const std::string& url, const std::string& name, const HubTimeouts& timeouts);

// How an exchange ended, for a run sent or a record asked for.
enum class HubOutcome {
    Done,          // ranked, or the record is there
    NoRecord,      // the track has no record (or the hub has no such track)
    Refused,       // for good: the run (or record) is not taken; `message` says why
    TokenRefused,  // the hub does not take our token
    Busy,          // 429 or 503: try again after `retryAfter` seconds
    Unreachable,   // no connection: try again later
    Failed,        // the hub answered with its own failure (5xx, ...): try again later
    TimedOut,      // no answer in time: try again later
    Garbage,       // an answer that is not what the hub's interface says
    Cancelled,     // the game is ending
};

struct SubmitResult {
    HubOutcome outcome = HubOutcome::Unreachable;
    int32_t rank = 0;
    int32_t of = 0;
    int32_t steps = 0;
    bool recordKnown = false;    // the track's record, asked for after a ranking
    int32_t recordSteps = 0;
    std::string recordHolder;
    long retryAfter = -1;
    std::string message;
};

// Sends a replay; when the hub does not know its track, sends the track
// file (`trackFile`, its bytes; `trackName`, its file name) and the replay
// again. A ranked run is followed by a question for the track's record.
SubmitResult submitRun(const HubAccount& account, const std::string& replayText, uint64_t digest,
                       const std::string& trackFile, const std::string& trackName, const HubTimeouts& timeouts,
                       const std::atomic<bool>* cancel);

struct RecordTop {
    HubOutcome outcome = HubOutcome::Unreachable;
    int32_t steps = 0;
    std::string holder;
    long retryAfter = -1;
    std::string message;
};
// The track's fastest run: GET .../times?limit=1.
RecordTop fetchRecordTop(const HubAccount& account, uint64_t digest, const HubTimeouts& timeouts,
                         const std::atomic<bool>* cancel);

struct RecordReplay {
    HubOutcome outcome = HubOutcome::Unreachable;
    std::string text;
    long retryAfter = -1;
    std::string message;
};
// The replay of the run at `rank` (1 is the record).
RecordReplay fetchRunReplay(const HubAccount& account, uint64_t digest, int32_t rank, const HubTimeouts& timeouts,
                            const std::atomic<bool>* cancel);

// The records of every track the hub holds: GET /api/tracks. Tracks without
// a record are left out of `records`.
struct TrackRecords {
    HubOutcome outcome = HubOutcome::Unreachable;
    std::map<uint64_t, RecordTop> records;
    long retryAfter = -1;
    std::string message;
};
TrackRecords fetchTrackRecords(const HubAccount& account, const HubTimeouts& timeouts,
                               const std::atomic<bool>* cancel);

// The end panel's line for a sent run: "World: 3rd of 57 \x97 record
// 00:21:35 by NAME", or why it has no rank.
std::string submitLine(const SubmitResult& result);
// The line for a record that could not be had ("No record yet", ...).
std::string recordProblemLine(HubOutcome outcome, long retryAfter, const std::string& message);
