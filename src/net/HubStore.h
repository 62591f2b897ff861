// What the game keeps for a hub, in the program's settings folder (the
// folder it starts in, where Velto.dat is):
//
//   Velto.hub      the hub's URL, the player's name and token; mode 0600
//   hub-outbox/    best runs not yet taken by the hub: DIGEST.replay, a
//                  copy of the track, DIGEST.vlt, so that it can be sent too,
//                  and after a failed try DIGEST.tries: how often it failed
//                  and when it may go again
//   hub-records/   downloaded record replays, by hub (HUBKEY, a digest of
//                  its URL) and track digest: HUBKEY/DIGEST.replay, with the
//                  holder's name in HUBKEY/DIGEST.holder
//
// Nothing here exists until the player registers on a hub.
#pragma once

#include "model/Replay.h"
#include "net/HubApi.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The hub takes tracks up to 16 MiB.
inline constexpr size_t kMaxHubTrackBytes = size_t{16} << 20;

struct HubFiles {
    std::string folder;   // the settings folder; "" is the current one
    std::string settings() const;
    std::string outbox() const;
    std::string records() const;
    // The records of one hub, kept apart from every other hub's.
    std::string recordsOf(const std::string& url) const;
};

// Reads the settings file: "url=", "name=" and "token=" lines (others are
// ignored), at most 4 KiB, a regular file only. False when it is missing, unreadable or lacks
// one of the three.
bool readHubAccount(const std::string& path, HubAccount& account);
// Writes it whole or not at all, readable by the player alone (0600).
bool writeHubAccount(const std::string& path, const HubAccount& account);

// Puts a best run into the outbox with a copy of its track, replacing an
// older run on the same track (the hub keeps only a player's best anyway)
// and its tries.
bool putOutbox(const HubFiles& files, const Replay& replay, const std::string& trackPath);

struct OutboxEntry {
    uint64_t digest = 0;
    std::string replayPath;
    std::string trackPath;   // the copy, which may be missing
    std::string triesPath;   // what became of earlier tries, when one failed
};

// The failed tries of a run waiting, kept beside it so that a restart does
// not send it again before its time. Times are wall-clock seconds.
struct OutboxTries {
    int32_t tries = 0;
    int64_t first = 0;   // the first failed try
    int64_t next = 0;    // not sent again before
};
// No file (or one that cannot be read) is a run never tried.
OutboxTries readOutboxTries(const OutboxEntry& entry);
bool writeOutboxTries(const OutboxEntry& entry, const OutboxTries& tries);
// On joining a hub: the best runs kept beside the tracks of `folder` (each
// a finished run of the current physics on exactly that track, as its
// digest says) go into the outbox, at most kMaxQueuedBests of them. How
// many went.
inline constexpr int kMaxQueuedBests = 10000;
int queueLocalBests(const HubFiles& files, const std::string& folder);

// The runs waiting, oldest first.
std::vector<OutboxEntry> listOutbox(const HubFiles& files);
// Removes a run once the hub has taken or refused it for good, but only if
// it is still the run that was sent (`sentText`): a newer best put in
// meanwhile stays. The track copy goes with the last run on it.
void dropOutbox(const HubFiles& files, const OutboxEntry& entry, const std::string& sentText);

// Reads at most `limit` bytes of a regular file (never a FIFO or a device);
// false when it cannot be read or is larger.
bool readSmallFile(const std::string& path, std::string& text, size_t limit);
// Writes beside, under a fresh name created exclusively (a link planted
// there is never followed), syncs, renames over and syncs the folder: the
// file is whole or absent, also after a crash.
bool writeFileWhole(const std::string& path, const std::string& text, unsigned mode = 0644);

// Forgets the hub: the settings, the outbox and the cached records.
void forgetHub(const HubFiles& files);
