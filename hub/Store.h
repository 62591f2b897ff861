// What the hub keeps: players, tracks and each player's best verified run
// per track, on either database. Every method is one transaction.
#pragma once

#include "Database.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hub {

inline constexpr int kSchemaVersion = 3;

// The author of the game's own tracks: a name no player can register, held
// by a player row whose token hash is empty, so that no token matches it.
inline constexpr const char* kPackAuthor = "Velto";

enum class ImportOutcome { Added, Moved, Held };

struct PlayerRecord {
    int64_t id = 0;
    std::string name;
    std::string tokenHash;  // SHA-256 of the token, raw bytes
    int64_t created = 0;    // ms since 1970
    bool banned = false;    // by the operator: the token is refused
};

struct TrackSummary {
    std::string digest;  // 16 lower-case hex digits
    std::string name;
    std::string author;
    int64_t created = 0;
    int64_t finishers = 0;
    int32_t recordSteps = -1;  // -1: nobody has finished it
    std::string recordHolder;
    int64_t likes = 0;
    int64_t downloads = 0;  // players who downloaded it
    // Of the players who downloaded it, how many in a thousand finished it;
    // -1 while nobody has downloaded it.
    int32_t finishedPerMille = -1;
    std::string older;  // the version this one updates, "" for a first version
    std::string newer;  // the version that updates this one, "" for the newest
    // The author's own best on it, rounded up to a whole second; -1 while
    // the author has not finished it.
    int32_t parSteps = -1;
};

// How a list of tracks is ordered; every order ends newest first.
enum class TrackSort { Oldest, Newest, Finishers, Likes, Hardest, Author };

struct TrackQuery {
    TrackSort sort = TrackSort::Oldest;
    int64_t author = 0;        // only this player's tracks (0: anyone's)
    int64_t unfinishedBy = 0;  // only tracks this player has no run on (0: any)
    int64_t offset = 0;
    int64_t limit = 100;
};

// What became of an upload that updates an earlier version.
enum class VersionOutcome { Added, Same, NoOlder, NotTheAuthor, OtherName, NotTheNewest, AlreadyHeld };

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

struct Report {
    std::string digest;
    std::string trackName;
    std::string player;
    std::string reason;
    int64_t created = 0;
    bool trackHidden = false;
};

struct ModerationAct {
    int64_t at = 0;
    std::string act;
    std::string target;
    std::string reason;
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
    // Migrates no further than `upTo` (at least 2): for the tests of migrations.
    Store(Database& db, int upTo);

    int schemaVersion();

    // False when the name is taken (ignoring case).
    bool addPlayer(const std::string& name, const std::string& tokenHash, int64_t now, int64_t& id);
    std::optional<PlayerRecord> findPlayer(const std::string& name);
    // True for a banned player, and for one that is gone.
    bool banned(int64_t player);

    // True when the track is new, false when it was already held.
    bool addTrack(const std::string& digest, const std::string& name, int64_t author, const std::string& data,
                  int64_t now);
    // Stores a track of the game's own pack as authored by kPackAuthor (made
    // when missing), or moves a track already stored under a player to that
    // name; a move is logged as an act. Throws DatabaseError when a player
    // has registered the reserved name (a database older than the reservation).
    ImportOutcome importTrack(const std::string& digest, const std::string& name, const std::string& data,
                              int64_t now);
    // The tracks the player stored since `since` (ms since 1970), and their bytes.
    void uploadsSince(int64_t player, int64_t since, int64_t& tracks, int64_t& bytes);
    // Hidden tracks are not found, listed or served.
    bool holds(const std::string& digest);
    std::optional<std::string> trackData(const std::string& digest);
    std::optional<TrackSummary> track(const std::string& digest);
    std::vector<TrackSummary> tracks();
    // `limit` tracks from the `offset`th, oldest first.
    std::vector<TrackSummary> tracks(int64_t offset, int64_t limit);
    int64_t trackCount();
    // The newest versions of the tracks that match, in its order, and how
    // many match in all.
    std::vector<TrackSummary> listTracks(const TrackQuery& query, int64_t& total);

    // Stores a track as the next version of `older`: the same file name by
    // the same author, `older` the newest version so far. Lists then show the
    // new one only; each version keeps its own runs.
    VersionOutcome addVersion(const std::string& digest, const std::string& name, int64_t author,
                              const std::string& data, const std::string& older, int64_t now);
    // The track's versions, newest first, at most `limit`.
    std::vector<TrackSummary> versions(const std::string& digest, int64_t limit);

    // A download by a known player counts once per player and track.
    void addDownload(const std::string& digest, int64_t player, int64_t now);
    // Likes or takes the like back; the track's likes after it, or -1 when
    // the track is not held. A like needs a run of the player's on the track:
    // `finished` says whether there is one (nothing changes without).
    int64_t setLike(const std::string& digest, int64_t player, bool like, int64_t now, bool& finished);

    // Keeps the run when it is the player's first on the track or faster
    // than their entry; answers their standing after it, committed.
    Standing submitRun(const std::string& digest, int64_t player, int32_t steps, const std::string& replay,
                       int64_t now);
    std::vector<TimeEntry> times(const std::string& digest, int64_t limit);
    std::optional<std::string> replayAt(const std::string& digest, int64_t rank);
    // `limit` of the player's runs from the `offset`th, in the order of
    // their tracks, and how many there are in all.
    std::vector<PlayerRun> runsOf(int64_t player, int64_t offset, int64_t limit, int64_t& total);
    int64_t runCount();

    // A player's report of a track, once per player and track: false when
    // they have reported it already, or the track is not held.
    bool addReport(const std::string& digest, int64_t player, const std::string& reason, int64_t now);

    // The operator's acts. Each is logged with its time and reason, and
    // answers false, logging nothing, when there is nothing to act on.
    bool setTrackHidden(const std::string& digest, bool hidden, const std::string& reason, int64_t now);
    // The player's token is refused from then on; their runs and tracks are hidden.
    bool banPlayer(const std::string& name, const std::string& reason, int64_t now);
    bool deleteRun(const std::string& digest, const std::string& name, const std::string& reason, int64_t now);
    std::vector<Report> reports();
    std::vector<ModerationAct> moderationLog();

private:
    void migrate(int upTo);
    // Counts the track's finishers, likes and downloads again.
    static void recount(Connection& conn, const std::string& digest);
    Standing standingOf(Connection& conn, const std::string& digest, int64_t player);
    static void logAct(Connection& conn, const std::string& act, const std::string& target, const std::string& reason,
                       int64_t now);

    Database& db_;
};

// Lower-case key under which names are unique.
std::string nameKey(const std::string& name);

}  // namespace hub
