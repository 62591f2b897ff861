#include "Store.h"

#include <cctype>

namespace hub {
namespace {

int64_t toInt(const Value& v)
{
    return v ? std::stoll(*v) : 0;
}

std::string toText(const Value& v)
{
    return v ? *v : std::string();
}

const char* const kTrackSummary =
    "SELECT t.digest, t.name, a.name, t.created,"
    " (SELECT COUNT(*) FROM runs c WHERE c.track = t.digest), b.steps, bp.name"
    " FROM tracks t JOIN players a ON a.id = t.author"
    " LEFT JOIN runs b ON b.id = (SELECT r.id FROM runs r WHERE r.track = t.digest ORDER BY r.steps, r.seq LIMIT 1)"
    " LEFT JOIN players bp ON bp.id = b.player";

TrackSummary summaryOf(const Row& row)
{
    TrackSummary t;
    t.digest = toText(row[0]);
    t.name = toText(row[1]);
    t.author = toText(row[2]);
    t.created = toInt(row[3]);
    t.finishers = toInt(row[4]);
    t.recordSteps = row[5] ? static_cast<int32_t>(toInt(row[5])) : -1;
    t.recordHolder = toText(row[6]);
    return t;
}

}  // namespace

std::string nameKey(const std::string& name)
{
    std::string key = name;
    for (char& c : key) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return key;
}

Store::Store(Database& db) : db_(db)
{
    migrate();
}

// Each step of the schema, applied in order from the version found.
void Store::migrate()
{
    Database::Lease conn(db_);
    Transaction tx(*conn, true);
    conn->lockSchema();
    conn->query("CREATE TABLE IF NOT EXISTS hub_schema (version INTEGER NOT NULL)");
    auto rows = conn->query("SELECT version FROM hub_schema");
    int version = 0;
    if (rows.empty()) {
        conn->query("INSERT INTO hub_schema (version) VALUES (0)");
    } else {
        version = static_cast<int>(toInt(rows[0][0]));
    }
    if (version > kSchemaVersion) {
        throw DatabaseError("the database has schema version " + std::to_string(version) +
                            ", newer than this hub's " + std::to_string(kSchemaVersion));
    }
    if (version < 1) {
        const std::string id = conn->idColumn();
        for (const std::string& sql : conn->extraSchema()) {
            conn->query(sql);
        }
        conn->query("CREATE TABLE players (id " + id +
                    ", name TEXT NOT NULL, name_key TEXT NOT NULL UNIQUE, token_hash " + conn->blobType() +
                    " NOT NULL, created BIGINT NOT NULL)");
        conn->query("CREATE TABLE tracks (digest TEXT PRIMARY KEY, name TEXT NOT NULL,"
                    " author BIGINT NOT NULL REFERENCES players(id), data " +
                    std::string(conn->blobType()) + " NOT NULL, created BIGINT NOT NULL)");
        conn->query("CREATE TABLE runs (id " + id +
                    ", track TEXT NOT NULL REFERENCES tracks(digest), player BIGINT NOT NULL REFERENCES players(id),"
                    " steps INTEGER NOT NULL, replay TEXT NOT NULL, submitted BIGINT NOT NULL, seq BIGINT NOT NULL,"
                    " UNIQUE (track, player))");
        conn->query("CREATE INDEX runs_by_time ON runs (track, steps, seq)");
        conn->query("CREATE INDEX runs_by_player ON runs (player)");
        conn->query("CREATE INDEX tracks_by_author ON tracks (author)");
        version = 1;
    }
    conn->query("UPDATE hub_schema SET version = $1", {Param::integer(version)});
    tx.commit();
}

int Store::schemaVersion()
{
    Database::Lease conn(db_);
    auto rows = conn->query("SELECT version FROM hub_schema");
    return rows.empty() ? 0 : static_cast<int>(toInt(rows[0][0]));
}

bool Store::addPlayer(const std::string& name, const std::string& tokenHash, int64_t now, int64_t& id)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, true);
    auto rows = conn->query("INSERT INTO players (name, name_key, token_hash, created) VALUES ($1, $2, $3, $4)"
                            " ON CONFLICT (name_key) DO NOTHING RETURNING id",
                            {Param::text(name), Param::text(nameKey(name)), Param::blob(tokenHash),
                             Param::integer(now)});
    tx.commit();
    if (rows.empty()) {
        return false;
    }
    id = toInt(rows[0][0]);
    return true;
}

std::optional<PlayerRecord> Store::findPlayer(const std::string& name)
{
    Database::Lease conn(db_);
    auto rows = conn->query("SELECT id, name, token_hash, created FROM players WHERE name_key = $1",
                            {Param::text(nameKey(name))});
    if (rows.empty()) {
        return std::nullopt;
    }
    return PlayerRecord{toInt(rows[0][0]), toText(rows[0][1]), toText(rows[0][2]), toInt(rows[0][3])};
}

bool Store::addTrack(const std::string& digest, const std::string& name, int64_t author, const std::string& data,
                     int64_t now)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, true);
    auto rows = conn->query("INSERT INTO tracks (digest, name, author, data, created) VALUES ($1, $2, $3, $4, $5)"
                            " ON CONFLICT (digest) DO NOTHING RETURNING digest",
                            {Param::text(digest), Param::text(name), Param::integer(author), Param::blob(data),
                             Param::integer(now)});
    tx.commit();
    return !rows.empty();
}

std::optional<std::string> Store::trackData(const std::string& digest)
{
    Database::Lease conn(db_);
    auto rows = conn->query("SELECT data FROM tracks WHERE digest = $1", {Param::text(digest)});
    if (rows.empty()) {
        return std::nullopt;
    }
    return toText(rows[0][0]);
}

std::optional<TrackSummary> Store::track(const std::string& digest)
{
    Database::Lease conn(db_);
    auto rows = conn->query(std::string(kTrackSummary) + " WHERE t.digest = $1", {Param::text(digest)});
    if (rows.empty()) {
        return std::nullopt;
    }
    return summaryOf(rows[0]);
}

std::vector<TrackSummary> Store::tracks()
{
    Database::Lease conn(db_);
    std::vector<TrackSummary> out;
    for (const Row& row : conn->query(std::string(kTrackSummary) + " ORDER BY t.created, t.digest")) {
        out.push_back(summaryOf(row));
    }
    return out;
}

std::vector<TrackSummary> Store::tracks(int64_t offset, int64_t limit)
{
    Database::Lease conn(db_);
    std::vector<TrackSummary> out;
    for (const Row& row : conn->query(std::string(kTrackSummary) + " ORDER BY t.created, t.digest LIMIT $1 OFFSET $2",
                                      {Param::integer(limit), Param::integer(offset)})) {
        out.push_back(summaryOf(row));
    }
    return out;
}

int64_t Store::trackCount()
{
    Database::Lease conn(db_);
    return toInt(conn->query("SELECT COUNT(*) FROM tracks")[0][0]);
}

std::vector<TrackSummary> Store::tracksBy(int64_t author)
{
    Database::Lease conn(db_);
    std::vector<TrackSummary> out;
    for (const Row& row :
         conn->query(std::string(kTrackSummary) + " WHERE t.author = $1 ORDER BY t.created, t.digest",
                     {Param::integer(author)})) {
        out.push_back(summaryOf(row));
    }
    return out;
}

// One statement, so that the entry and its rank come from one snapshot.
Standing Store::standingOf(Connection& conn, const std::string& digest, int64_t player)
{
    Standing s;
    auto rows = conn.query(
        "SELECT r.steps,"
        " (SELECT COUNT(*) FROM runs o WHERE o.track = r.track AND (o.steps < r.steps OR (o.steps = r.steps AND o.seq < r.seq))),"
        " (SELECT COUNT(*) FROM runs o WHERE o.track = r.track)"
        " FROM runs r WHERE r.track = $1 AND r.player = $2",
        {Param::text(digest), Param::integer(player)});
    if (rows.empty()) {
        return s;
    }
    s.steps = static_cast<int32_t>(toInt(rows[0][0]));
    s.rank = toInt(rows[0][1]) + 1;
    s.of = toInt(rows[0][2]);
    return s;
}

Standing Store::submitRun(const std::string& digest, int64_t player, int32_t steps, const std::string& replay,
                          int64_t now)
{
    Database::Lease conn(db_);
    // A run no faster than the player's entry changes nothing: answered
    // from a read, without taking the write lock.
    {
        Standing s = standingOf(*conn, digest, player);
        if (s.of > 0 && s.steps <= steps) {
            return s;
        }
    }
    // Only a faster run replaces the entry; the submission number orders ties.
    const std::string upsert = "INSERT INTO runs (track, player, steps, replay, submitted, seq)"
                               " VALUES ($1, $2, $3, $4, $5, " +
                               std::string(conn->nextRunSeq()) +
                               ") ON CONFLICT (track, player) DO UPDATE SET steps = excluded.steps,"
                               " replay = excluded.replay, submitted = excluded.submitted, seq = excluded.seq"
                               " WHERE excluded.steps < runs.steps RETURNING seq";
    const std::vector<Param> params = {Param::text(digest), Param::integer(player), Param::integer(steps),
                                       Param::text(replay), Param::integer(now)};
    if (conn->writesInWith()) {
        // One statement, committed on its own: the other players' entries
        // as the write found them give the rank.
        auto rows = conn->query("WITH up AS (" + upsert +
                                    ") SELECT (SELECT seq FROM up),"
                                    " (SELECT COUNT(*) FROM runs o WHERE o.track = $1 AND o.player <> $2 AND"
                                    " (o.steps < $3 OR (o.steps = $3 AND o.seq < (SELECT seq FROM up)))),"
                                    " (SELECT COUNT(*) FROM runs o WHERE o.track = $1 AND o.player <> $2)",
                                params);
        if (rows.empty() || !rows[0][0]) {
            return standingOf(*conn, digest, player);
        }
        return Standing{true, steps, toInt(rows[0][1]) + 1, toInt(rows[0][2]) + 1};
    }
    Transaction tx(*conn, true);
    auto kept = conn->query(upsert, params);
    Standing s = standingOf(*conn, digest, player);
    tx.commit();
    s.stored = !kept.empty();
    return s;
}

std::vector<TimeEntry> Store::times(const std::string& digest, int64_t limit)
{
    Database::Lease conn(db_);
    std::vector<TimeEntry> out;
    auto rows = conn->query("SELECT p.name, r.steps, r.submitted FROM runs r JOIN players p ON p.id = r.player"
                            " WHERE r.track = $1 ORDER BY r.steps, r.seq LIMIT $2",
                            {Param::text(digest), Param::integer(limit)});
    int64_t rank = 0;
    for (const Row& row : rows) {
        out.push_back(TimeEntry{++rank, toText(row[0]), static_cast<int32_t>(toInt(row[1])), toInt(row[2])});
    }
    return out;
}

std::optional<std::string> Store::replayAt(const std::string& digest, int64_t rank)
{
    if (rank < 1) {
        return std::nullopt;
    }
    Database::Lease conn(db_);
    auto rows = conn->query("SELECT replay FROM runs WHERE track = $1 ORDER BY steps, seq LIMIT 1 OFFSET $2",
                            {Param::text(digest), Param::integer(rank - 1)});
    if (rows.empty()) {
        return std::nullopt;
    }
    return toText(rows[0][0]);
}

std::vector<PlayerRun> Store::runsOf(int64_t player)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, false);
    std::vector<PlayerRun> out;
    auto rows = conn->query("SELECT r.track, t.name, r.steps, r.submitted FROM runs r JOIN tracks t ON t.digest = r.track"
                            " WHERE r.player = $1 ORDER BY t.created, t.digest",
                            {Param::integer(player)});
    for (const Row& row : rows) {
        PlayerRun run;
        run.digest = toText(row[0]);
        run.trackName = toText(row[1]);
        run.steps = static_cast<int32_t>(toInt(row[2]));
        run.submitted = toInt(row[3]);
        const Standing s = standingOf(*conn, run.digest, player);
        run.rank = s.rank;
        run.of = s.of;
        out.push_back(std::move(run));
    }
    tx.commit();
    return out;
}

int64_t Store::runCount()
{
    Database::Lease conn(db_);
    return toInt(conn->query("SELECT COUNT(*) FROM runs")[0][0]);
}

}  // namespace hub
