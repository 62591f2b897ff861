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
    "SELECT t.digest, t.name, a.name, t.created, t.finishers, b.steps, bp.name, t.likes, t.downloads, t.hardness,"
    " t.older, t.newer,"
    " (SELECT o.steps FROM runs o WHERE o.track = t.digest AND o.player = t.author AND o.hidden = 0)"
    " FROM tracks t JOIN players a ON a.id = t.author"
    " LEFT JOIN runs b ON b.id = (SELECT r.id FROM runs r WHERE r.track = t.digest AND r.hidden = 0"
    " ORDER BY r.steps, r.seq LIMIT 1)"
    " LEFT JOIN players bp ON bp.id = b.player";

// The columns of a track its summary reads: the indexes that list tracks
// hold them all, so that a list never reads a row (and the track's file in it).
const char* const kListedColumns = "digest, name, author, created, finishers, likes, downloads, hardness, older, newer";

constexpr int64_t kMaxVersions = 1000;

// A hardness of no downloads: after every track somebody downloaded.
constexpr int64_t kNoDownloads = 1001;

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
    t.likes = toInt(row[7]);
    t.downloads = toInt(row[8]);
    const int64_t hardness = toInt(row[9]);
    t.finishedPerMille = hardness >= kNoDownloads ? -1 : static_cast<int32_t>(hardness);
    t.older = toText(row[10]);
    t.newer = toText(row[11]);
    if (row[12]) {
        // The author's own time, rounded up to a whole second.
        t.parSteps = static_cast<int32_t>((toInt(row[12]) + 99) / 100 * 100);
    }
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
    migrate(kSchemaVersion);
}

Store::Store(Database& db, int upTo) : db_(db)
{
    migrate(upTo);
}

// Each step of the schema, applied in order from the version found.
void Store::migrate(int upTo)
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
    if (version < 2) {
        // Moderation: hidden tracks and runs, banned players, players'
        // reports and the operator's log; and each track's size, for the
        // daily quotas.
        const std::string id = conn->idColumn();
        conn->query("ALTER TABLE tracks ADD COLUMN hidden INTEGER NOT NULL DEFAULT 0");
        conn->query("ALTER TABLE tracks ADD COLUMN size BIGINT NOT NULL DEFAULT 0");
        conn->query("UPDATE tracks SET size = LENGTH(data)");
        conn->query("ALTER TABLE runs ADD COLUMN hidden INTEGER NOT NULL DEFAULT 0");
        conn->query("ALTER TABLE players ADD COLUMN banned INTEGER NOT NULL DEFAULT 0");
        conn->query("CREATE TABLE reports (track TEXT NOT NULL REFERENCES tracks(digest),"
                    " player BIGINT NOT NULL REFERENCES players(id), reason TEXT NOT NULL, created BIGINT NOT NULL,"
                    " UNIQUE (track, player))");
        conn->query("CREATE TABLE moderation_log (id " + id +
                    ", at BIGINT NOT NULL, act TEXT NOT NULL, target TEXT NOT NULL, reason TEXT NOT NULL)");
        conn->query("CREATE INDEX tracks_by_author_time ON tracks (author, created)");
        version = 2;
    }
    if (version < 3 && upTo >= 3) {
        // Players' tracks in the game: counts kept with each track for the
        // lists' orders, likes, downloads by player, and versions.
        conn->query("ALTER TABLE tracks ADD COLUMN finishers BIGINT NOT NULL DEFAULT 0");
        conn->query("ALTER TABLE tracks ADD COLUMN likes BIGINT NOT NULL DEFAULT 0");
        conn->query("ALTER TABLE tracks ADD COLUMN downloads BIGINT NOT NULL DEFAULT 0");
        conn->query("ALTER TABLE tracks ADD COLUMN hardness BIGINT NOT NULL DEFAULT " + std::to_string(kNoDownloads));
        conn->query("ALTER TABLE tracks ADD COLUMN older TEXT");
        conn->query("ALTER TABLE tracks ADD COLUMN newer TEXT");
        conn->query("UPDATE tracks SET finishers ="
                    " (SELECT COUNT(*) FROM runs r WHERE r.track = tracks.digest AND r.hidden = 0)");
        conn->query("CREATE TABLE likes (track TEXT NOT NULL REFERENCES tracks(digest),"
                    " player BIGINT NOT NULL REFERENCES players(id), created BIGINT NOT NULL, UNIQUE (track, player))");
        conn->query("CREATE TABLE downloads (track TEXT NOT NULL REFERENCES tracks(digest),"
                    " player BIGINT NOT NULL REFERENCES players(id), created BIGINT NOT NULL, UNIQUE (track, player))");
        const std::string listed = kListedColumns;
        conn->query("CREATE INDEX tracks_v3_digest ON tracks (digest, hidden, " + listed + ")");
        conn->query("CREATE INDEX tracks_v3_created ON tracks (hidden, newer, created, " + listed + ")");
        conn->query("CREATE INDEX tracks_v3_finishers ON tracks (hidden, newer, finishers, created, " + listed + ")");
        conn->query("CREATE INDEX tracks_v3_likes ON tracks (hidden, newer, likes, created, " + listed + ")");
        conn->query("CREATE INDEX tracks_v3_hardness ON tracks (hidden, newer, hardness, downloads, created, " +
                    listed + ")");
        conn->query("CREATE INDEX tracks_v3_author ON tracks (author, hidden, newer, created, size, " + listed + ")");
        version = 3;
    }
    // Indexes that hold every column the lists and pages read, so that they
    // never read a row: a row holds the track's file or the run's replay,
    // and SQLite walks all of it to reach a column stored after it.
    conn->query("CREATE INDEX IF NOT EXISTS tracks_by_digest_listed ON tracks (digest, hidden, name, author, created)");
    conn->query("CREATE INDEX IF NOT EXISTS tracks_listed ON tracks (hidden, created, digest, name, author)");
    conn->query("CREATE INDEX IF NOT EXISTS tracks_by_author_listed ON tracks"
                " (author, created, hidden, size, digest, name)");
    conn->query("CREATE INDEX IF NOT EXISTS runs_listed ON runs (track, hidden, steps, seq, player, submitted)");
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
    auto rows = conn->query("SELECT id, name, token_hash, created, banned FROM players WHERE name_key = $1",
                            {Param::text(nameKey(name))});
    if (rows.empty()) {
        return std::nullopt;
    }
    return PlayerRecord{toInt(rows[0][0]), toText(rows[0][1]), toText(rows[0][2]), toInt(rows[0][3]),
                        toInt(rows[0][4]) != 0};
}

bool Store::banned(int64_t player)
{
    Database::Lease conn(db_);
    auto rows = conn->query("SELECT banned FROM players WHERE id = $1", {Param::integer(player)});
    return rows.empty() || toInt(rows[0][0]) != 0;
}

bool Store::addTrack(const std::string& digest, const std::string& name, int64_t author, const std::string& data,
                     int64_t now)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, true);
    auto rows = conn->query("INSERT INTO tracks (digest, name, author, data, created, size)"
                            " VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (digest) DO NOTHING RETURNING digest",
                            {Param::text(digest), Param::text(name), Param::integer(author), Param::blob(data),
                             Param::integer(now), Param::integer(static_cast<int64_t>(data.size()))});
    tx.commit();
    return !rows.empty();
}

ImportOutcome Store::importTrack(const std::string& digest, const std::string& name, const std::string& data,
                                int64_t now)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, true);
    auto author = conn->query("SELECT id, token_hash FROM players WHERE name_key = $1",
                              {Param::text(nameKey(kPackAuthor))});
    if (!author.empty() && !toText(author[0][1]).empty()) {
        throw DatabaseError(std::string("the name ") + kPackAuthor +
                            " is held by a registered player: ban them (ban-player) and rename their row first");
    }
    if (author.empty()) {
        author = conn->query("INSERT INTO players (name, name_key, token_hash, created) VALUES ($1, $2, $3, $4)"
                             " RETURNING id, token_hash",
                             {Param::text(kPackAuthor), Param::text(nameKey(kPackAuthor)), Param::blob(""),
                              Param::integer(now)});
    }
    const Param authorId = Param::integer(toInt(author[0][0]));
    auto held = conn->query("SELECT t.author, p.name FROM tracks t JOIN players p ON p.id = t.author"
                            " WHERE t.digest = $1",
                            {Param::text(digest)});
    ImportOutcome outcome = ImportOutcome::Held;
    if (held.empty()) {
        conn->query("INSERT INTO tracks (digest, name, author, data, created, size) VALUES ($1, $2, $3, $4, $5, $6)",
                    {Param::text(digest), Param::text(name), authorId, Param::blob(data), Param::integer(now),
                     Param::integer(static_cast<int64_t>(data.size()))});
        outcome = ImportOutcome::Added;
    } else if (toInt(held[0][0]) != toInt(author[0][0])) {
        conn->query("UPDATE tracks SET author = $1, name = $2 WHERE digest = $3",
                    {authorId, Param::text(name), Param::text(digest)});
        logAct(*conn, "import-pack", digest, name + " moved from " + toText(held[0][1]) + " to " + kPackAuthor, now);
        outcome = ImportOutcome::Moved;
    }
    tx.commit();
    return outcome;
}

void Store::uploadsSince(int64_t player, int64_t since, int64_t& tracks, int64_t& bytes)
{
    Database::Lease conn(db_);
    auto rows = conn->query("SELECT COUNT(*), COALESCE(SUM(size), 0) FROM tracks WHERE author = $1 AND created >= $2",
                            {Param::integer(player), Param::integer(since)});
    tracks = toInt(rows[0][0]);
    bytes = toInt(rows[0][1]);
}

bool Store::holds(const std::string& digest)
{
    Database::Lease conn(db_);
    return !conn->query("SELECT 1 FROM tracks WHERE digest = $1 AND hidden = 0", {Param::text(digest)}).empty();
}

std::optional<std::string> Store::trackData(const std::string& digest)
{
    Database::Lease conn(db_);
    auto rows = conn->query("SELECT data FROM tracks WHERE digest = $1 AND hidden = 0", {Param::text(digest)});
    if (rows.empty()) {
        return std::nullopt;
    }
    return toText(rows[0][0]);
}

std::optional<TrackSummary> Store::track(const std::string& digest)
{
    Database::Lease conn(db_);
    auto rows = conn->query(std::string(kTrackSummary) + " WHERE t.digest = $1 AND t.hidden = 0", {Param::text(digest)});
    if (rows.empty()) {
        return std::nullopt;
    }
    return summaryOf(rows[0]);
}

std::vector<TrackSummary> Store::tracks()
{
    Database::Lease conn(db_);
    std::vector<TrackSummary> out;
    for (const Row& row : conn->query(std::string(kTrackSummary) + " WHERE t.hidden = 0 AND t.newer IS NULL ORDER BY t.created, t.digest")) {
        out.push_back(summaryOf(row));
    }
    return out;
}

std::vector<TrackSummary> Store::tracks(int64_t offset, int64_t limit)
{
    Database::Lease conn(db_);
    std::vector<TrackSummary> out;
    for (const Row& row : conn->query(std::string(kTrackSummary) +
                                          " WHERE t.hidden = 0 AND t.newer IS NULL ORDER BY t.created, t.digest"
                                          " LIMIT $1 OFFSET $2",
                                      {Param::integer(limit), Param::integer(offset)})) {
        out.push_back(summaryOf(row));
    }
    return out;
}

int64_t Store::trackCount()
{
    Database::Lease conn(db_);
    return toInt(conn->query("SELECT COUNT(*) FROM tracks WHERE hidden = 0 AND newer IS NULL")[0][0]);
}

// One statement, so that the entry and its rank come from one snapshot.
Standing Store::standingOf(Connection& conn, const std::string& digest, int64_t player)
{
    Standing s;
    auto rows = conn.query(
        "SELECT r.steps,"
        " (SELECT COUNT(*) FROM runs o WHERE o.track = r.track AND o.hidden = 0 AND"
        " (o.steps < r.steps OR (o.steps = r.steps AND o.seq < r.seq))),"
        " (SELECT COUNT(*) FROM runs o WHERE o.track = r.track AND o.hidden = 0)"
        " FROM runs r WHERE r.track = $1 AND r.player = $2 AND r.hidden = 0",
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
    // Writers of one track take turns on its row, so that submission
    // numbers are handed out in the order the runs are committed and every
    // run committed before this one is seen: the rank answered is the
    // table's once this run is in it. (SQLite's write lock is whole.)
    Transaction tx(*conn, true);
    conn->query(std::string("SELECT digest FROM tracks WHERE digest = $1") + conn->lockRow(),
                {Param::text(digest)});
    auto kept = conn->query(upsert, params);
    if (!kept.empty()) {
        recount(*conn, digest);
    }
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
                            " WHERE r.track = $1 AND r.hidden = 0 ORDER BY r.steps, r.seq LIMIT $2",
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
    auto rows = conn->query("SELECT replay FROM runs WHERE track = $1 AND hidden = 0"
                            " ORDER BY steps, seq LIMIT 1 OFFSET $2",
                            {Param::text(digest), Param::integer(rank - 1)});
    if (rows.empty()) {
        return std::nullopt;
    }
    return toText(rows[0][0]);
}

std::vector<PlayerRun> Store::runsOf(int64_t player, int64_t offset, int64_t limit, int64_t& total)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, false);
    std::vector<PlayerRun> out;
    static constexpr const char* kShown = " FROM runs r JOIN tracks t ON t.digest = r.track"
                                          " WHERE r.player = $1 AND r.hidden = 0 AND t.hidden = 0";
    total = toInt(conn->query(std::string("SELECT COUNT(*)") + kShown, {Param::integer(player)})[0][0]);
    auto rows = conn->query(std::string("SELECT r.track, t.name, r.steps, r.submitted") + kShown +
                                " ORDER BY t.created, t.digest LIMIT $2 OFFSET $3",
                            {Param::integer(player), Param::integer(limit), Param::integer(offset)});
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

bool Store::addReport(const std::string& digest, int64_t player, const std::string& reason, int64_t now)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, true);
    auto rows = conn->query("INSERT INTO reports (player, reason, created, track)"
                            " SELECT $1, $2, $3, digest FROM tracks WHERE digest = $4 AND hidden = 0"
                            " ON CONFLICT (track, player) DO NOTHING RETURNING track",
                            {Param::integer(player), Param::text(reason), Param::integer(now), Param::text(digest)});
    tx.commit();
    return !rows.empty();
}

void Store::logAct(Connection& conn, const std::string& act, const std::string& target, const std::string& reason,
                   int64_t now)
{
    conn.query("INSERT INTO moderation_log (at, act, target, reason) VALUES ($1, $2, $3, $4)",
               {Param::integer(now), Param::text(act), Param::text(target), Param::text(reason)});
}

bool Store::setTrackHidden(const std::string& digest, bool hidden, const std::string& reason, int64_t now)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, true);
    auto rows = conn->query("UPDATE tracks SET hidden = $1 WHERE digest = $2 AND hidden <> $1 RETURNING digest",
                            {Param::integer(hidden ? 1 : 0), Param::text(digest)});
    if (rows.empty()) {
        return false;
    }
    logAct(*conn, hidden ? "hide-track" : "unhide-track", digest, reason, now);
    tx.commit();
    return true;
}

bool Store::banPlayer(const std::string& name, const std::string& reason, int64_t now)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, true);
    auto rows = conn->query("UPDATE players SET banned = 1 WHERE name_key = $1 AND banned = 0 RETURNING id, name",
                            {Param::text(nameKey(name))});
    if (rows.empty()) {
        return false;
    }
    const Param id = Param::integer(toInt(rows[0][0]));
    conn->query("UPDATE runs SET hidden = 1 WHERE player = $1", {id});
    for (const Row& run : conn->query("SELECT track FROM runs WHERE player = $1", {id})) {
        recount(*conn, toText(run[0]));
    }
    conn->query("UPDATE tracks SET hidden = 1 WHERE author = $1", {id});
    logAct(*conn, "ban-player", toText(rows[0][1]), reason, now);
    tx.commit();
    return true;
}

bool Store::deleteRun(const std::string& digest, const std::string& name, const std::string& reason, int64_t now)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, true);
    auto rows = conn->query("DELETE FROM runs WHERE track = $1 AND player ="
                            " (SELECT id FROM players WHERE name_key = $2) RETURNING player",
                            {Param::text(digest), Param::text(nameKey(name))});
    if (rows.empty()) {
        return false;
    }
    recount(*conn, digest);
    logAct(*conn, "delete-run", digest + " " + name, reason, now);
    tx.commit();
    return true;
}

std::vector<Report> Store::reports()
{
    Database::Lease conn(db_);
    std::vector<Report> out;
    for (const Row& row : conn->query("SELECT r.track, t.name, p.name, r.reason, r.created, t.hidden FROM reports r"
                                      " JOIN tracks t ON t.digest = r.track JOIN players p ON p.id = r.player"
                                      " ORDER BY r.track, r.created")) {
        out.push_back(Report{toText(row[0]), toText(row[1]), toText(row[2]), toText(row[3]), toInt(row[4]),
                             toInt(row[5]) != 0});
    }
    return out;
}

std::vector<ModerationAct> Store::moderationLog()
{
    Database::Lease conn(db_);
    std::vector<ModerationAct> out;
    for (const Row& row : conn->query("SELECT at, act, target, reason FROM moderation_log ORDER BY id")) {
        out.push_back(ModerationAct{toInt(row[0]), toText(row[1]), toText(row[2]), toText(row[3])});
    }
    return out;
}

void Store::recount(Connection& conn, const std::string& digest)
{
    conn.query("UPDATE tracks SET"
               " finishers = (SELECT COUNT(*) FROM runs r WHERE r.track = $1 AND r.hidden = 0),"
               " likes = (SELECT COUNT(*) FROM likes l WHERE l.track = $1),"
               " downloads = (SELECT COUNT(*) FROM downloads d WHERE d.track = $1),"
               " hardness = COALESCE((SELECT (1000 * COUNT(r.player)) / COUNT(*) FROM downloads d"
               " LEFT JOIN runs r ON r.track = d.track AND r.player = d.player AND r.hidden = 0"
               " WHERE d.track = $1 HAVING COUNT(*) > 0), " +
                   std::to_string(kNoDownloads) + ") WHERE digest = $1",
               {Param::text(digest)});
}

std::vector<TrackSummary> Store::listTracks(const TrackQuery& query, int64_t& total)
{
    std::string where = " WHERE t.hidden = 0 AND t.newer IS NULL";
    std::vector<Param> params;
    if (query.author != 0) {
        params.push_back(Param::integer(query.author));
        where += " AND t.author = $" + std::to_string(params.size());
    }
    if (query.unfinishedBy != 0) {
        params.push_back(Param::integer(query.unfinishedBy));
        where += " AND NOT EXISTS (SELECT 1 FROM runs u WHERE u.track = t.digest AND u.player = $" +
                 std::to_string(params.size()) + " AND u.hidden = 0)";
    }
    std::string order;
    switch (query.sort) {
    case TrackSort::Oldest: order = "t.created, t.digest"; break;
    case TrackSort::Newest: order = "t.created DESC, t.digest"; break;
    case TrackSort::Finishers: order = "t.finishers DESC, t.created DESC, t.digest"; break;
    case TrackSort::Likes: order = "t.likes DESC, t.created DESC, t.digest"; break;
    case TrackSort::Hardest: order = "t.hardness, t.downloads DESC, t.created DESC, t.digest"; break;
    case TrackSort::Author: order = "a.name_key, t.created DESC, t.digest"; break;
    }
    Database::Lease conn(db_);
    Transaction tx(*conn, false);
    total = toInt(conn->query("SELECT COUNT(*) FROM tracks t" + where, params)[0][0]);
    std::vector<Param> paged = params;
    paged.push_back(Param::integer(query.limit));
    paged.push_back(Param::integer(query.offset));
    std::vector<TrackSummary> out;
    for (const Row& row : conn->query(std::string(kTrackSummary) + where + " ORDER BY " + order + " LIMIT $" +
                                          std::to_string(paged.size() - 1) + " OFFSET $" +
                                          std::to_string(paged.size()),
                                      paged)) {
        out.push_back(summaryOf(row));
    }
    tx.commit();
    return out;
}

VersionOutcome Store::addVersion(const std::string& digest, const std::string& name, int64_t author,
                                 const std::string& data, const std::string& older, int64_t now)
{
    if (digest == older) {
        return VersionOutcome::Same;
    }
    Database::Lease conn(db_);
    Transaction tx(*conn, true);
    auto was = conn->query(std::string("SELECT author, name, newer FROM tracks WHERE digest = $1 AND hidden = 0") +
                               conn->lockRow(),
                           {Param::text(older)});
    if (was.empty()) {
        return VersionOutcome::NoOlder;
    }
    if (toInt(was[0][0]) != author) {
        return VersionOutcome::NotTheAuthor;
    }
    if (toText(was[0][1]) != name) {
        return VersionOutcome::OtherName;
    }
    if (was[0][2]) {
        return VersionOutcome::NotTheNewest;
    }
    auto added = conn->query("INSERT INTO tracks (digest, name, author, data, created, size, older)"
                             " VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT (digest) DO NOTHING RETURNING digest",
                             {Param::text(digest), Param::text(name), Param::integer(author), Param::blob(data),
                              Param::integer(now), Param::integer(static_cast<int64_t>(data.size())),
                              Param::text(older)});
    if (added.empty()) {
        return VersionOutcome::AlreadyHeld;
    }
    conn->query("UPDATE tracks SET newer = $1 WHERE digest = $2", {Param::text(digest), Param::text(older)});
    tx.commit();
    return VersionOutcome::Added;
}

std::vector<TrackSummary> Store::versions(const std::string& digest, int64_t limit)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, false);
    auto summary = [&](const std::string& d) -> std::optional<TrackSummary> {
        auto rows = conn->query(std::string(kTrackSummary) + " WHERE t.digest = $1 AND t.hidden = 0", {Param::text(d)});
        return rows.empty() ? std::nullopt : std::optional<TrackSummary>(summaryOf(rows[0]));
    };
    std::optional<TrackSummary> at = summary(digest);
    // Up to the newest, then down, each a bounded number of steps.
    for (int64_t i = 0; at && !at->newer.empty() && i < kMaxVersions; ++i) {
        auto next = summary(at->newer);
        if (!next) {
            break;
        }
        at = next;
    }
    std::vector<TrackSummary> out;
    while (at && static_cast<int64_t>(out.size()) < limit) {
        out.push_back(*at);
        at = at->older.empty() ? std::nullopt : summary(at->older);
    }
    tx.commit();
    return out;
}

void Store::addDownload(const std::string& digest, int64_t player, int64_t now)
{
    Database::Lease conn(db_);
    // A download counted already changes nothing: answered from a read.
    if (!conn->query("SELECT 1 FROM downloads WHERE track = $1 AND player = $2",
                     {Param::text(digest), Param::integer(player)})
             .empty()) {
        return;
    }
    Transaction tx(*conn, true);
    conn->query(std::string("SELECT digest FROM tracks WHERE digest = $1") + conn->lockRow(), {Param::text(digest)});
    // (SQLite numbers parameters in the order they first appear.)
    auto added = conn->query("INSERT INTO downloads (track, player, created) SELECT digest, $1, $2 FROM tracks"
                             " WHERE digest = $3 ON CONFLICT (track, player) DO NOTHING RETURNING track",
                             {Param::integer(player), Param::integer(now), Param::text(digest)});
    if (!added.empty()) {
        recount(*conn, digest);
    }
    tx.commit();
}

int64_t Store::setLike(const std::string& digest, int64_t player, bool like, int64_t now, bool& finished)
{
    Database::Lease conn(db_);
    Transaction tx(*conn, true);
    if (conn->query(std::string("SELECT digest FROM tracks WHERE digest = $1 AND hidden = 0") + conn->lockRow(),
                    {Param::text(digest)})
            .empty()) {
        return -1;
    }
    finished = !conn->query("SELECT 1 FROM runs WHERE track = $1 AND player = $2 AND hidden = 0",
                            {Param::text(digest), Param::integer(player)})
                    .empty();
    if (like && finished) {
        conn->query("INSERT INTO likes (track, player, created) VALUES ($1, $2, $3) ON CONFLICT (track, player) DO NOTHING",
                    {Param::text(digest), Param::integer(player), Param::integer(now)});
    } else if (!like) {
        conn->query("DELETE FROM likes WHERE track = $1 AND player = $2", {Param::text(digest), Param::integer(player)});
    }
    recount(*conn, digest);
    auto rows = conn->query("SELECT likes FROM tracks WHERE digest = $1", {Param::text(digest)});
    tx.commit();
    return toInt(rows[0][0]);
}

}  // namespace hub
