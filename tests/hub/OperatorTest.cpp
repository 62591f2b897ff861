// What keeps a hub on the open internet in order: only canonical tracks,
// daily quotas, ranks that agree with the table under concurrency, a
// database restart that costs nothing already accepted, and the operator's
// moderation commands. Against real hubs on loopback, on both databases.
#include "HubTestSupport.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <limits>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

using namespace hubtest;

namespace {

// Runs `velto-hub --db DB ARGS`: its exit status, and what it printed.
int moderate(const std::string& db, const std::string& args, std::string& output)
{
    const std::string command = std::string(VELTO_BINARY_DIR) + "/velto-hub --db '" + db + "' " + args + " 2>&1";
    output.clear();
    std::FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) {
        return -1;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) {
        output.append(buffer, n);
    }
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Headers named(const Player& p, const std::string& name)
{
    Headers h = p.auth();
    h.emplace_back("X-Velto-Name", name);
    return h;
}

std::string errorOf(const hub::ClientResponse& r)
{
    const json body = json::parse(r.body, nullptr, false);
    return body.is_object() && body.contains("error") ? body["error"].get<std::string>() : r.body;
}

// A finishing run on the flat track.
std::string flatReplay(const std::string& dir)
{
    const std::string path = dir + "/flat.vlt";
    writeFile(path, flatTrack());
    return recordReplay(path, "0 U\n");
}

class OperatorTest : public BackendTest {};

TEST_P(OperatorTest, OnlyTheBytesTheGameWritesAreTakenAsATrack)
{
    Hub hub(db_);
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const std::string track = flatTrack();

    // A byte of junk after the end would clone the track under a new digest.
    auto junk = hub.request("POST", "/api/tracks", named(ann, "junk.vlt"), track + "x");
    EXPECT_EQ(junk.status, 422);
    EXPECT_EQ(errorOf(junk), "the track is refused: 1 bytes follow the track's end");

    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        std::string start = track;
        std::memcpy(start.data() + 8, &bad, 8);
        auto r = hub.request("POST", "/api/tracks", named(ann, "start.vlt"), start);
        EXPECT_EQ(r.status, 422);
        EXPECT_EQ(errorOf(r), "the track is refused: its start or finish is not a finite number");
        std::string ground = track;
        std::memcpy(ground.data() + 48, &bad, 8);
        r = hub.request("POST", "/api/tracks", named(ann, "ground.vlt"), ground);
        EXPECT_EQ(errorOf(r), "the track is refused: a point of its ground is not a finite number");
    }
    // A negative apple count reads as none, but is not what the game writes.
    std::string count = track;
    const int32_t minus = -3;
    std::memcpy(count.data() + count.size() - 4, &minus, 4);
    auto other = hub.request("POST", "/api/tracks", named(ann, "count.vlt"), count);
    EXPECT_EQ(other.status, 422);
    EXPECT_EQ(errorOf(other), "the track is refused: from byte " + std::to_string(track.size() - 4) +
                                  " it is not in the form the game writes tracks");
    auto cut = hub.request("POST", "/api/tracks", named(ann, "cut.vlt"), track.substr(0, 60));
    EXPECT_EQ(cut.status, 422);
    EXPECT_EQ(errorOf(cut), "Cant't load the track. The file ends before the data its counts announce.");

    EXPECT_FALSE(addTrack(hub, ann, "flat.vlt", track).empty());
    EXPECT_EQ(json::parse(hub.request("GET", "/api/tracks").body).size(), 1u);
}

TEST_P(OperatorTest, QuotasAnswer429WithWhenAndWhy)
{
    Hub hub(db_, {"--tracks-per-day", "2", "--track-mib-per-day", "1", "--registrations-per-hour", "3"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    addPlayer(hub, "Bob");
    addPlayer(hub, "Cy");
    auto fourth = hub.request("POST", "/api/players", {}, R"({"name": "Di"})");
    EXPECT_EQ(fourth.status, 429);
    EXPECT_GE(std::stoi(fourth.headers["retry-after"]), 60);
    EXPECT_NE(errorOf(fourth).find("too many players registered from this address"), std::string::npos);

    // Apples make tracks of other digests; the second is near the byte quota.
    auto withApples = [](int apples) {
        std::string t = flatTrack();
        t.resize(t.size() - 4);
        const int32_t n = apples;
        t.append(reinterpret_cast<const char*>(&n), 4);
        for (int i = 0; i < apples; ++i) {
            const double xy[2] = {100.0 + i % 1000, 20.0 + i / 1000};
            t.append(reinterpret_cast<const char*>(xy), sizeof xy);
        }
        return t;
    };
    EXPECT_EQ(hub.request("POST", "/api/tracks", named(ann, "a.vlt"), withApples(1)).status, 201);
    auto big = hub.request("POST", "/api/tracks", named(ann, "b.vlt"), withApples(70000));  // 1.1 MB
    EXPECT_EQ(big.status, 429);
    EXPECT_NE(errorOf(big).find("1 MiB of tracks a day"), std::string::npos) << big.body;
    EXPECT_EQ(hub.request("POST", "/api/tracks", named(ann, "c.vlt"), withApples(2)).status, 201);
    auto third = hub.request("POST", "/api/tracks", named(ann, "d.vlt"), withApples(3));
    EXPECT_EQ(third.status, 429);
    EXPECT_NE(errorOf(third).find("2 tracks a day"), std::string::npos) << third.body;
    EXPECT_TRUE(third.headers.count("retry-after"));
}

// Everyone sends the same run at once: each is told the place the table
// gives them once all are in.
TEST_P(OperatorTest, TheRankInEachAnswerIsTheTablesUnderConcurrency)
{
    Hub hub(db_, {"--workers", "8", "--player-rate", "0", "--address-rate", "0"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    constexpr int kPlayers = 24;
    std::vector<Player> players;
    for (int i = 0; i < kPlayers; ++i) {
        players.push_back(addPlayer(hub, "rider" + std::to_string(i)));
    }
    addTrack(hub, players[0], "flat.vlt", flatTrack());
    const std::string replay = flatReplay(dir_);
    std::vector<std::future<hub::ClientResponse>> answers;
    for (const Player& p : players) {
        answers.push_back(std::async(std::launch::async, [&, p] {
            hub::HttpClient client("127.0.0.1", hub.port(), 60.0);
            hub::ClientResponse r;
            std::string error;
            client.request("POST", "/api/runs", p.auth(), replay, r, error);
            return r;
        }));
    }
    std::map<std::string, int64_t> told;
    for (int i = 0; i < kPlayers; ++i) {
        const hub::ClientResponse r = answers[static_cast<size_t>(i)].get();
        ASSERT_EQ(r.status, 201) << r.body;
        told[players[static_cast<size_t>(i)].name] = json::parse(r.body)["rank"].get<int64_t>();
    }
    const json table = json::parse(hub.request("GET", "/api/tracks/" + json::parse(
        hub.request("GET", "/api/tracks").body)[0]["digest"].get<std::string>() + "/times").body);
    ASSERT_EQ(table.size(), static_cast<size_t>(kPlayers));
    int wrong = 0;
    for (const json& row : table) {
        wrong += told[row["player"].get<std::string>()] != row["rank"].get<int64_t>() ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0) << "players told a place other than the table's";
}

TEST_P(OperatorTest, HiddenBannedAndDeletedContentIsGoneEverywhereAndEveryActIsKept)
{
    Hub hub(db_);
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const Player bob = addPlayer(hub, "Bob");
    const std::string digest = addTrack(hub, ann, "flat.vlt", flatTrack());
    const std::string replay = flatReplay(dir_);
    ASSERT_EQ(hub.request("POST", "/api/runs", ann.auth(), replay).status, 201);
    ASSERT_EQ(hub.request("POST", "/api/runs", bob.auth(), replay).status, 201);

    // Reports: once per player, with a short reason.
    const std::string report = "/api/tracks/" + digest + "/report";
    EXPECT_EQ(hub.request("POST", report, bob.auth(), R"({"reason": "copy of another track"})").status, 201);
    EXPECT_EQ(hub.request("POST", report, bob.auth(), R"({"reason": "again"})").status, 409);
    EXPECT_EQ(hub.request("POST", report, bob.auth(), json{{"reason", std::string(201, 'x')}}.dump()).status, 400);
    EXPECT_EQ(hub.request("POST", report, {}, R"({"reason": "x"})").status, 403);
    std::string out;
    ASSERT_EQ(moderate(db_, "reports", out), 0) << out;
    EXPECT_NE(out.find(digest + "  flat.vlt  reported by Bob: copy of another track"), std::string::npos) << out;

    ASSERT_EQ(moderate(db_, "hide-track " + digest + " a copy", out), 0) << out;
    EXPECT_EQ(moderate(db_, "hide-track " + digest, out), 1) << "hidden twice";
    EXPECT_EQ(json::parse(hub.request("GET", "/api/tracks").body).size(), 0u);
    EXPECT_EQ(hub.request("GET", "/api/tracks/" + digest).status, 404);
    EXPECT_EQ(hub.request("GET", "/api/tracks/" + digest + "/times").status, 404);
    EXPECT_EQ(hub.request("GET", "/tracks/" + digest).status, 404);
    EXPECT_EQ(hub.request("GET", "/").body.find("flat.vlt"), std::string::npos);
    EXPECT_EQ(hub.request("POST", "/api/runs", ann.auth(), replay).status, 404);
    ASSERT_EQ(moderate(db_, "unhide-track " + digest + " looked again", out), 0) << out;
    EXPECT_EQ(json::parse(hub.request("GET", "/api/tracks").body).size(), 1u);

    ASSERT_EQ(moderate(db_, "delete-run " + digest + " ann cheated", out), 0) << out;
    auto times = json::parse(hub.request("GET", "/api/tracks/" + digest + "/times").body);
    ASSERT_EQ(times.size(), 1u);
    EXPECT_EQ(times[0]["player"], "Bob");

    ASSERT_EQ(moderate(db_, "ban-player Ann spam", out), 0) << out;
    EXPECT_EQ(hub.request("POST", "/api/runs", ann.auth(), replay).status, 403);
    EXPECT_EQ(hub.request("GET", "/api/tracks/" + digest).status, 404) << "the banned player's track";
    EXPECT_EQ(hub.request("GET", "/players/Ann").status, 404);
    EXPECT_EQ(moderate(db_, "ban-player nobody", out), 1);

    ASSERT_EQ(moderate(db_, "acts", out), 0);
    for (const std::string& act : {"hide-track " + digest + ": a copy", "unhide-track " + digest + ": looked again",
                                  "delete-run " + digest + " ann: cheated", std::string("ban-player Ann: spam")}) {
        EXPECT_NE(out.find(act), std::string::npos) << act << " missing from\n" << out;
    }
    EXPECT_EQ(moderate(db_, "delete-run " + digest, out), 2) << out;
}

TEST_P(OperatorTest, ThePackIsStoredUnderAReservedNameAndTakenFromWhoeverSentItFirst)
{
    Hub hub(db_);
    ASSERT_TRUE(hub.running()) << hub.errors();
    for (const char* name : {"Velto", "vELTO"}) {
        auto r = hub.request("POST", "/api/players", {}, json{{"name", name}}.dump());
        EXPECT_EQ(r.status, 400) << name;
        EXPECT_EQ(errorOf(r), "the name is reserved for the game's own tracks");
    }
    // A player sent a shipped track first, with a run on it.
    const Player rosa = addPlayer(hub, "Rosa");
    const std::string flat = addTrack(hub, rosa, "mine.vlt", flatTrack());
    ASSERT_EQ(hub.request("POST", "/api/runs", rosa.auth(), flatReplay(dir_)).status, 201);

    const std::string pack = dir_ + "/pack";
    ASSERT_EQ(::mkdir(pack.c_str(), 0755), 0);
    writeFile(pack + "/01-flat.vlt", flatTrack());
    std::string apple = flatTrack();
    apple.resize(apple.size() - 4);
    const int32_t one = 1;
    const double xy[2] = {150.0, 20.0};
    apple.append(reinterpret_cast<const char*>(&one), 4).append(reinterpret_cast<const char*>(xy), sizeof xy);
    writeFile(pack + "/02-apple.vlt", apple);
    writeFile(pack + "/03-junk.vlt", flatTrack() + "x");
    writeFile(pack + "/notes.txt", "not a track");
    ASSERT_EQ(::mkfifo((pack + "/04-fifo.vlt").c_str(), 0644), 0);

    std::string out;
    EXPECT_EQ(moderate(db_, "import-pack '" + pack + "'", out), 1) << "a refused file is an error";
    EXPECT_NE(out.find("01-flat.vlt  moved to Velto"), std::string::npos) << out;
    EXPECT_NE(out.find("02-apple.vlt  added"), std::string::npos) << out;
    EXPECT_NE(out.find("03-junk.vlt refused: 1 bytes follow the track's end"), std::string::npos) << out;
    EXPECT_NE(out.find("1 tracks added, 1 moved to Velto, 0 held already, 1 refused"), std::string::npos) << out;

    const json list = json::parse(hub.request("GET", "/api/tracks").body);
    ASSERT_EQ(list.size(), 2u);
    for (const json& t : list) {
        EXPECT_EQ(t["author"], "Velto");
    }
    EXPECT_EQ(list[0]["digest"], flat);
    EXPECT_EQ(list[0]["name"], "01-flat.vlt");
    EXPECT_EQ(list[0]["record_holder"], "Rosa") << "the runs stay with the track";

    // Nobody can act as the reserved author.
    Headers asPack{{"X-Velto-Player", "Velto"}, {"X-Velto-Token", ""}, {"X-Velto-Name", "x.vlt"}};
    EXPECT_EQ(hub.request("POST", "/api/tracks", asPack, apple + "").status, 403);

    ::unlink((pack + "/03-junk.vlt").c_str());
    EXPECT_EQ(moderate(db_, "import-pack '" + pack + "'", out), 0) << out;
    EXPECT_NE(out.find("0 tracks added, 0 moved to Velto, 2 held already, 0 refused"), std::string::npos) << out;
    ASSERT_EQ(moderate(db_, "acts", out), 0);
    EXPECT_NE(out.find("import-pack " + flat + ": 01-flat.vlt moved from Rosa to Velto"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Databases, OperatorTest, testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

class PostgresRestartTest : public BackendTest {};

// Every pooled connection is broken by the restart; none of them may cost
// a request, and health tells whether the database answers.
TEST_P(PostgresRestartTest, ARestartCostsNoRequestAndHealthFollowsTheDatabase)
{
    Hub hub(db_, {"--threads", "2", "--workers", "2"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const std::string digest = addTrack(hub, ann, "flat.vlt", flatTrack());
    // Each of the pool's connections is used, from several at once.
    std::vector<std::future<int>> warm;
    for (int i = 0; i < 8; ++i) {
        warm.push_back(std::async(std::launch::async, [&] {
            hub::HttpClient client("127.0.0.1", hub.port(), 30.0);
            hub::ClientResponse r;
            std::string error;
            client.request("GET", "/api/tracks/" + digest + "/times", {}, {}, r, error);
            return r.status;
        }));
    }
    for (auto& w : warm) {
        EXPECT_EQ(w.get(), 200);
    }
    ASSERT_TRUE(cluster_->restart());
    for (int i = 0; i < 12; ++i) {
        auto r = hub.request("GET", "/api/tracks/" + digest + "/times");
        EXPECT_EQ(r.status, 200) << "request " << i << " after the restart: " << r.body;
    }
    EXPECT_EQ(hub.request("POST", "/api/runs", ann.auth(), flatReplay(dir_)).status, 201);

    ASSERT_TRUE(cluster_->stopServer());
    const auto down = hub.request("GET", "/api/health");
    ASSERT_TRUE(cluster_->startServer());
    EXPECT_EQ(down.status, 503) << down.body;
    EXPECT_EQ(hub.request("GET", "/api/health").status, 200);
}

INSTANTIATE_TEST_SUITE_P(Databases, PostgresRestartTest, testing::Values(Backend::Postgres), backendName);

}  // namespace
