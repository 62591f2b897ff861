// What the game keeps for a hub, in the program's settings folder (the
// folder it starts in, where Velto.dat is):
//
//   Velto.hub      the hub's URL, the player's name and token; mode 0600
//   hub-outbox/    best runs not yet taken by the hub: DIGEST.replay and a
//                  copy of the track, DIGEST.vlt, so that it can be sent too
//   hub-records/   downloaded record replays by track digest, DIGEST.replay,
//                  with the holder's name in DIGEST.holder
//
// Nothing here exists until the player registers on a hub.
#pragma once

#include "model/Replay.h"
#include "net/HubApi.h"

#include <cstdint>
#include <string>
#include <vector>

struct HubFiles {
    std::string folder;   // the settings folder; "" is the current one
    std::string settings() const;
    std::string outbox() const;
    std::string records() const;
};

// Reads the settings file: "url=", "name=" and "token=" lines (others are
// ignored), at most 4 KiB. False when it is missing, unreadable or lacks
// one of the three.
bool readHubAccount(const std::string& path, HubAccount& account);
// Writes it whole or not at all, readable by the player alone (0600).
bool writeHubAccount(const std::string& path, const HubAccount& account);

// Puts a best run into the outbox with a copy of its track, replacing an
// older run on the same track (the hub keeps only a player's best anyway).
bool putOutbox(const HubFiles& files, const Replay& replay, const std::string& trackPath);

struct OutboxEntry {
    uint64_t digest = 0;
    std::string replayPath;
    std::string trackPath;   // the copy, which may be missing
};
// The runs waiting, oldest first.
std::vector<OutboxEntry> listOutbox(const HubFiles& files);
// Removes a run once the hub has taken or refused it for good, but only if
// it is still the run that was sent (`sentText`): a newer best put in
// meanwhile stays. The track copy goes with the last run on it.
void dropOutbox(const HubFiles& files, const OutboxEntry& entry, const std::string& sentText);

// Reads at most `limit` bytes of a file; false when it cannot be read or is
// larger.
bool readSmallFile(const std::string& path, std::string& text, size_t limit);
// Writes beside and renames over, so that the file is whole or absent.
bool writeFileWhole(const std::string& path, const std::string& text, unsigned mode = 0644);

// Forgets the hub: the settings, the outbox and the cached records.
void forgetHub(const HubFiles& files);
