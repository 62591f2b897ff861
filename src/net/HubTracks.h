// Players' tracks on a hub: the hub's list a page at a time, a track's file
// (checked before it is kept), its outline, likes, reports and publishing.
// Every call here is one or two network exchanges: never called from a
// frame, only from the hub's threads (net/HubBrowse.h) and tests.
//
// The hub's interface: GET /api/tracks?sort=S&unfinished_by=NAME&page=P&limit=N
// answers a list of tracks with X-Total-Count; GET /api/tracks/{digest} the
// file (counted once per player when sent with the player's headers);
// GET /tracks/{digest}/outline.svg its ground, start, finish and apples;
// POST and DELETE /api/tracks/{digest}/like; POST /api/tracks/{digest}/report
// {"reason"}; POST /api/tracks with X-Velto-Update-Of for a new version.
#pragma once

#include "net/HubApi.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The orders the hub sorts its list in, as the player cycles them.
enum class HubSort { Newest, Finishers, Likes, Hardest, Author };
inline constexpr int kHubSortCount = 5;
// "newest", "finishers", ... as the hub's query names them.
const char* hubSortKey(HubSort sort);
// "newest", "most finishers", ... as the player reads them.
const char* hubSortName(HubSort sort);

// Tracks on one page of the game's hub list.
inline constexpr int32_t kHubPageTracks = 10;

struct HubTrack {
    uint64_t digest = 0;
    std::string name;           // the file name the author gave, printable
    std::string author;
    std::string created;        // "YYYY-MM-DDTHH:MM:SSZ"
    int64_t createdSeconds = -1;
    int32_t finishers = 0;
    int32_t recordSteps = -1;   // -1: nobody finished yet
    std::string recordHolder;
    int32_t likes = 0;
    int32_t downloads = 0;
    int32_t parSteps = -1;      // -1: the author has not finished it
    bool updated = false;       // a newer version of an older track
};

struct HubTrackPage {
    HubOutcome outcome = HubOutcome::Unreachable;
    std::vector<HubTrack> tracks;
    int64_t total = 0;          // tracks matching, over all pages
    long retryAfter = -1;
    std::string message;
};
// One page (1 is the first) of the hub's list; with `unfinishedBy` only the
// tracks that player has no run on.
HubTrackPage fetchTrackPage(const HubAccount& account, HubSort sort, const std::string& unfinishedBy, int32_t page,
                            const HubTimeouts& timeouts, const std::atomic<bool>* cancel);

// The answer of one of the exchanges below, in a line for the player.
struct HubErrand {
    bool ok = false;
    std::string line;
};

// A track's file from the hub, sent with the player's headers so that the
// download counts once for them. Kept in `bytes` only when its digest is
// `digest`.
HubErrand fetchHubTrackFile(const HubAccount& account, uint64_t digest, std::string& bytes,
                            const HubTimeouts& timeouts, const std::atomic<bool>* cancel);
// The digest of a track file's bytes (model/Replay.h: trackDigest).
bool trackDigestOfBytes(const std::string& bytes, uint64_t& digest);
// The name a downloaded track is kept under, before numbering: letters,
// digits, '-', '_' and '.', cut short, ending in ".vlt".
std::string safeTrackFileName(const std::string& name);
// The track file in `folder` whose digest is `digest`, or "".
std::string findTrackByDigest(const std::string& folder, uint64_t digest);
// Keeps a downloaded track in `folder` (created when missing): only when the
// game's reader takes it and its digest is `digest`, under the safe form of
// `name`, numbered ("name-2.vlt") when another track stands there. Main
// thread only (the track reader's module state). `path` is the file's.
HubErrand keepDownloadedTrack(const std::string& bytes, uint64_t digest, const std::string& name,
                              const std::string& folder, std::string& path);

// The ground, start, finish and apples of a track as the hub draws them.
struct HubOutline {
    std::vector<std::vector<std::pair<double, double>>> polygons;
    std::pair<double, double> start{0.0, 0.0};
    std::pair<double, double> finish{0.0, 0.0};
    std::vector<std::pair<double, double>> apples;
};
// At most this many points are read from an outline, over all polygons.
inline constexpr size_t kMaxOutlinePoints = 200000;
// Reads the hub's outline.svg; false for anything else. The picture's y
// runs down: the points come back in the track's own coordinates.
bool parseOutlineSvg(const std::string& svg, HubOutline& outline);
bool fetchOutline(const HubAccount& account, uint64_t digest, HubOutline& outline, const HubTimeouts& timeouts,
                  const std::atomic<bool>* cancel);

// The player's place in the track's table, or 0 when they have none there.
int32_t fetchOwnRank(const HubAccount& account, uint64_t digest, const HubTimeouts& timeouts,
                     const std::atomic<bool>* cancel);

// Likes a track (or takes the like back): "Liked NAME (3 likes)".
HubErrand likeHubTrack(const HubAccount& account, uint64_t digest, bool like, const HubTimeouts& timeouts,
                       const std::atomic<bool>* cancel);

// The reasons a player may give for a report.
const std::vector<std::string>& reportReasons();
HubErrand reportHubTrack(const HubAccount& account, uint64_t digest, const std::string& reason,
                         const HubTimeouts& timeouts, const std::atomic<bool>* cancel);

// Publishes a track file and its author's run on it: the track goes up as a
// new version of `updateOf` when that is not 0, then the run, which the hub
// rides like any other. `digest` is the file's (as the run names it).
HubErrand publishHubTrack(const HubAccount& account, const std::string& trackBytes, const std::string& fileName,
                          const std::string& replayText, uint64_t updateOf, const HubTimeouts& timeouts,
                          const std::atomic<bool>* cancel);
