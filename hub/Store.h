// What the hub keeps: players, tracks and each player's best verified run
// per track, on either database. Every method is one transaction.
#pragma once

#include "Database.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hub {

inline constexpr int kSchemaVersion = 1;

struct PlayerRecord {
    int64_t id = 0;
    std::string name;
    std::string tokenHash;  // SHA-256 of the token, raw bytes
    int64_t created = 0;    // ms since 1970
};

struct TrackSummary {
    std::string digest;  // 16 lower-case hex digits
    std::string name;
    std::string author;
    int64_t created = 0;
    int64_t finishers = 0;
    int32_t recordSteps = -1;  // -1: nobody has finished it
    std::string recordHolder;
};

struct TimeEntry {
    int64_t rank = 0;
    std::string player;
    int32_t steps = 0;
    int64_t submitted = 0;  // ms since 1970
};

struct Standing {
    bool stored = false;  // the run became the player's entry
    int32_t steps = 0;    // the player's entry
    int64_t rank = 0;
    int64_t of = 0;
};

struct PlayerRun {
    std::string digest;
    std::string trackName;
    int32_t steps = 0;
    int64_t rank = 0;
    int64_t of = 0;
    int64_t submitted = 0;
};

class Store {
public:
    // Creates or migrates the schema. Throws DatabaseError, also for a
    // database made by a newer hub.
    explicit Store(Database& db);

    int schemaVersion();

    // False when the name is taken (ignoring case).
    bool addPlayer(const std::string& name, const std::string& tokenHash, int64_t now, int64_t& id);
    std::optional<PlayerRecord> findPlayer(const std::string& name);

    // True when the track is new, false when it was already held.
    bool addTrack(const std::string& digest, const std::string& name, int64_t author, const std::string& data,
                  int64_t now);
    std::optional<std::string> trackData(const std::string& digest);
    std::optional<TrackSummary> track(const std::string& digest);
    std::vector<TrackSummary> tracks();
    // `limit` tracks from the `offset`th, oldest first.
    std::vector<TrackSummary> tracks(int64_t offset, int64_t limit);
    int64_t trackCount();
    std::vector<TrackSummary> tracksBy(int64_t author);

    // Keeps the run when it is the player's first on the track or faster
    // than their entry; answers their standing after it, committed.
    Standing submitRun(const std::string& digest, int64_t player, int32_t steps, const std::string& replay,
                       int64_t now);
    std::vector<TimeEntry> times(const std::string& digest, int64_t limit);
    std::optional<std::string> replayAt(const std::string& digest, int64_t rank);
    std::vector<PlayerRun> runsOf(int64_t player);
    int64_t runCount();

private:
    void migrate();
    Standing standingOf(Connection& conn, const std::string& digest, int64_t player);

    Database& db_;
};

// Lower-case key under which names are unique.
std::string nameKey(const std::string& name);

}  // namespace hub
