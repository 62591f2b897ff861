// What the game asks of a hub to browse players' tracks: lists in each
// order and filter, paged; downloads and likes counted once per player; and
// versions of a track that keep their own times. Against real hubs on
// loopback, on both databases.
#include "HubTestSupport.h"

#include "Store.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

using namespace hubtest;

namespace {

// The flat track with its start `lift` higher: another digest, still finished.
std::string liftedTrack(double lift)
{
    std::string t = flatTrack();
    const double y = 100.0 + lift;
    std::memcpy(t.data() + 16, &y, 8);
    return t;
}

class TracksTest : public BackendTest {
protected:
    // Uploads a lifted track; a pause keeps creation times apart.
    std::string upload(Hub& hub, const Player& p, const std::string& name, double lift)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return addTrack(hub, p, name, liftedTrack(lift));
    }
    // A finishing run of `p` on the lifted track.
    void finish(Hub& hub, const Player& p, double lift)
    {
        const std::string path = dir_ + "/lift" + std::to_string(static_cast<int>(lift)) + ".vlt";
        writeFile(path, liftedTrack(lift));
        const std::string replay = recordReplay(path, "0 U\n");
        ASSERT_EQ(hub.request("POST", "/api/runs", p.auth(), replay).status, 201) << p.name;
    }
    static std::vector<std::string> digests(const hub::ClientResponse& r)
    {
        EXPECT_EQ(r.status, 200) << r.body;
        std::vector<std::string> out;
        const json list = json::parse(r.body, nullptr, false);
        for (const json& t : list.is_array() ? list : json::array()) {
            out.push_back(t["digest"]);
        }
        return out;
    }
};

TEST_P(TracksTest, ListsSortAndFilterWithCountsOncePerPlayer)
{
    Hub hub(db_);
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const Player bob = addPlayer(hub, "Bob Two");
    const Player cy = addPlayer(hub, "Cy");
    const std::string a = upload(hub, ann, "a.vlt", 0);
    const std::string b = upload(hub, bob, "b.vlt", 1);
    const std::string c = upload(hub, ann, "c.vlt", 2);

    // Downloads count once per player, and only with a player's headers.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(hub.request("GET", "/api/tracks/" + a, bob.auth()).status, 200);
    }
    EXPECT_EQ(hub.request("GET", "/api/tracks/" + a, cy.auth()).status, 200);
    EXPECT_EQ(hub.request("HEAD", "/api/tracks/" + b, cy.auth()).status, 200) << "a HEAD is no download";
    EXPECT_EQ(hub.request("GET", "/api/tracks/" + c, cy.auth()).status, 200);
    EXPECT_EQ(hub.request("GET", "/api/tracks/" + b).status, 200);
    EXPECT_EQ(hub.request("GET", "/api/tracks/" + b, {{"X-Velto-Player", "Cy"}, {"X-Velto-Token", "x"}}).status, 403);
    finish(hub, bob, 0);
    finish(hub, ann, 0);
    finish(hub, cy, 2);

    // Likes: once per player, taken back, and only after a finish.
    auto likeA = [&](const Player& p, const char* method) { return hub.request(method, "/api/tracks/" + a + "/like", p.auth()); };
    EXPECT_EQ(json::parse(likeA(bob, "POST").body)["likes"], 1);
    EXPECT_EQ(json::parse(likeA(bob, "POST").body)["likes"], 1) << "a second like of one player";
    auto unfinished = likeA(cy, "POST");
    EXPECT_EQ(unfinished.status, 409);
    EXPECT_EQ(json::parse(likeA(ann, "POST").body)["likes"], 2);
    auto back = likeA(ann, "DELETE");
    EXPECT_EQ(back.status, 200);
    EXPECT_EQ(json::parse(back.body), json({{"track", a}, {"liked", false}, {"likes", 1}}));
    EXPECT_EQ(hub.request("POST", "/api/tracks/" + c + "/like", cy.auth()).status, 200);
    EXPECT_EQ(hub.request("POST", "/api/tracks/" + a + "/like").status, 403);
    EXPECT_EQ(hub.request("PUT", "/api/tracks/" + a + "/like", bob.auth()).headers["allow"], "POST, DELETE");

    const json all = json::parse(hub.request("GET", "/api/tracks").body);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0]["downloads"], 2);
    EXPECT_EQ(all[0]["finishers"], 2);
    EXPECT_EQ(all[0]["finished_per_mille"], 500) << "of Bob and Cy who downloaded it, Bob finished";
    EXPECT_EQ(all[1]["downloads"], 0);
    EXPECT_TRUE(all[1]["finished_per_mille"].is_null());
    EXPECT_EQ(all[2]["finished_per_mille"], 1000);
    EXPECT_EQ(all[2]["likes"], 1);
    EXPECT_EQ(all[0]["updated"], false);
    // Par: the author's own time, rounded up to a whole second.
    const json annOnA = json::parse(hub.request("GET", "/api/tracks/" + a + "/times").body);
    ASSERT_EQ(annOnA.size(), 2u);
    const int annSteps = annOnA[1]["steps"];
    EXPECT_EQ(all[0]["par_steps"], (annSteps + 99) / 100 * 100);
    EXPECT_GT(annSteps % 100, 0) << "the flat ride does not end on a whole second, so rounding is seen";
    EXPECT_TRUE(all[1]["par_steps"].is_null()) << "Bob never finished his own track";

    const std::vector<std::string> newest{c, b, a};
    EXPECT_EQ(digests(hub.request("GET", "/api/tracks?sort=newest")), newest);
    EXPECT_EQ(digests(hub.request("GET", "/api/tracks?sort=finishers")), (std::vector<std::string>{a, c, b}));
    EXPECT_EQ(digests(hub.request("GET", "/api/tracks?sort=likes")), (std::vector<std::string>{c, a, b}));
    EXPECT_EQ(digests(hub.request("GET", "/api/tracks?sort=hardest")), (std::vector<std::string>{a, c, b}));
    EXPECT_EQ(digests(hub.request("GET", "/api/tracks?sort=author")), (std::vector<std::string>{c, a, b}));
    EXPECT_EQ(digests(hub.request("GET", "/api/tracks?author=bob+two")), std::vector<std::string>{b});
    EXPECT_EQ(digests(hub.request("GET", "/api/tracks?unfinished_by=Bob%20Two")), (std::vector<std::string>{b, c}));
    EXPECT_EQ(digests(hub.request("GET", "/api/tracks?unfinished_by=Cy&sort=newest&author=Ann")),
              std::vector<std::string>{a});

    auto second = hub.request("GET", "/api/tracks?sort=newest&unfinished_by=Ann&limit=1&page=1");
    EXPECT_EQ(digests(second), std::vector<std::string>{c});
    EXPECT_EQ(second.headers["x-total-count"], "2");
    EXPECT_EQ(second.headers["link"], "</api/tracks?page=2&limit=1&sort=newest&unfinished_by=Ann>; rel=\"next\"");
    EXPECT_EQ(digests(hub.request("GET", "/api/tracks?sort=newest&unfinished_by=Ann&limit=1&page=2")),
              std::vector<std::string>{b});

    auto badSort = hub.request("GET", "/api/tracks?sort=stars");
    EXPECT_EQ(badSort.status, 400);
    EXPECT_EQ(json::parse(badSort.body)["error"], "sort must be oldest, newest, finishers, likes, hardest or author");
    EXPECT_EQ(hub.request("GET", "/api/tracks?author=Nobody").status, 404);
    EXPECT_EQ(hub.request("GET", "/api/tracks?unfinished_by=%3Cb%3E").status, 404);
}

TEST_P(TracksTest, AnUpdateIsListedInsteadOfItsOlderVersionWhichKeepsItsTimes)
{
    Hub hub(db_);
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const Player bob = addPlayer(hub, "Bob");
    const std::string v1 = upload(hub, ann, "hill.vlt", 0);
    const std::string other = upload(hub, ann, "other.vlt", 1);
    finish(hub, bob, 0);

    auto update = [&](const Player& p, const std::string& name, double lift, const std::string& older) {
        Headers h = p.auth();
        h.emplace_back("X-Velto-Name", name);
        h.emplace_back("X-Velto-Update-Of", older);
        return hub.request("POST", "/api/tracks", h, liftedTrack(lift));
    };
    EXPECT_EQ(update(bob, "hill.vlt", 3, v1).status, 403) << "only the author updates";
    EXPECT_EQ(update(ann, "hill2.vlt", 3, v1).status, 409) << "an update keeps the file name";
    EXPECT_EQ(update(ann, "hill.vlt", 1, v1).status, 409) << "a track stored already is no update";
    EXPECT_EQ(update(ann, "hill.vlt", 3, "0123456789abcdef").status, 404);
    auto added = update(ann, "hill.vlt", 3, v1);
    ASSERT_EQ(added.status, 201) << added.body;
    const std::string v2 = json::parse(added.body)["digest"];
    EXPECT_EQ(update(ann, "hill.vlt", 4, v1).status, 409) << "only the newest version is updated";

    const json list = json::parse(hub.request("GET", "/api/tracks").body);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["digest"], other);
    EXPECT_EQ(list[1]["digest"], v2);
    EXPECT_EQ(list[1]["updated"], true);
    EXPECT_EQ(list[1]["older"], v1);
    EXPECT_EQ(list[1]["finishers"], 0) << "the new version starts without times";

    for (const std::string& d : {v1, v2}) {
        const json versions = json::parse(hub.request("GET", "/api/tracks/" + d + "/versions").body);
        ASSERT_EQ(versions.size(), 2u);
        EXPECT_EQ(versions[0]["digest"], v2);
        EXPECT_EQ(versions[1]["digest"], v1);
        EXPECT_EQ(versions[1]["newer"], v2);
        EXPECT_EQ(versions[1]["record_holder"], "Bob") << "the old version keeps its times";
    }
    EXPECT_EQ(json::parse(hub.request("GET", "/api/tracks/" + v1 + "/times").body).size(), 1u);
    EXPECT_EQ(hub.request("GET", "/api/tracks/" + v1).status, 200) << "the old version is still served";
    EXPECT_EQ(hub.request("GET", "/api/tracks/0123456789abcdef/versions").status, 404);

    // The pages show the same: the newest in the index, marked; the versions
    // on each version's page; the author's tracks on their page.
    const std::string index = hub.request("GET", "/?sort=likes").body;
    EXPECT_NE(index.find("<strong>most liked</strong>"), std::string::npos);
    EXPECT_NE(index.find("/tracks/" + v2 + "\">hill.vlt</a> <span class=\"muted\">updated</span>"), std::string::npos)
        << index;
    EXPECT_EQ(index.find(v1), std::string::npos) << "the older version is not listed";
    const std::string old = hub.request("GET", "/tracks/" + v1).body;
    EXPECT_NE(old.find("<strong>A newer version:</strong> <a href=\"/tracks/" + v2), std::string::npos) << old;
    EXPECT_NE(old.find("<h2>Versions</h2>"), std::string::npos);
    EXPECT_NE(old.find("<code>" + v1 + "</code> (this one)"), std::string::npos);
    const std::string author = hub.request("GET", "/players/Ann").body;
    EXPECT_NE(author.find(v2), std::string::npos);
    EXPECT_NE(author.find(other), std::string::npos);
}

TEST_P(TracksTest, TheMigrationKeepsTracksAndCountsTheirFinishers)
{
    auto db = hub::Database::open(db_, 1);
    {
        hub::Store before(*db, 2);
        ASSERT_EQ(before.schemaVersion(), 2);
        hub::Database::Lease conn(*db);
        conn->query("INSERT INTO players (id, name, name_key, token_hash, created) VALUES (7, 'Ann', 'ann', $1, 1)",
                    {hub::Param::blob(std::string(32, 'x'))});
        for (const char* digest : {"00000000000000aa", "00000000000000bb"}) {
            conn->query("INSERT INTO tracks (digest, name, author, data, created) VALUES ($1, 'a.vlt', 7, $2, 2)",
                        {hub::Param::text(digest), hub::Param::blob("bytes")});
        }
        conn->query("INSERT INTO runs (track, player, steps, replay, submitted, seq)"
                    " VALUES ('00000000000000bb', 7, 250, 'r', 3, 1)");
    }
    hub::Store after(*db);
    EXPECT_EQ(after.schemaVersion(), hub::kSchemaVersion);
    int64_t total = 0;
    hub::TrackQuery q;
    q.sort = hub::TrackSort::Finishers;
    const auto list = after.listTracks(q, total);
    ASSERT_EQ(total, 2);
    EXPECT_EQ(list[0].digest, "00000000000000bb");
    EXPECT_EQ(list[0].finishers, 1);
    EXPECT_EQ(list[0].recordSteps, 250);
    EXPECT_EQ(list[1].finishers, 0);
    EXPECT_EQ(list[1].finishedPerMille, -1);
}

TEST_P(TracksTest, APlayersRunsComeAPageAtATimeInTheirTracksOrder)
{
    auto db = hub::Database::open(db_, 1);
    hub::Store store(*db);
    int64_t ann = 0;
    ASSERT_TRUE(store.addPlayer("Ann", std::string(32, 'x'), 1, ann));
    for (int i = 0; i < 7; ++i) {
        char digest[17];
        std::snprintf(digest, sizeof digest, "%016x", 0xa0 + i);
        ASSERT_TRUE(store.addTrack(digest, "t" + std::to_string(i) + ".vlt", ann, "bytes" + std::to_string(i), 10 + i));
        store.submitRun(digest, ann, 100 + i, "r", 20 + i);
    }
    int64_t total = 0;
    const auto second = store.runsOf(ann, 3, 3, total);
    EXPECT_EQ(total, 7);
    ASSERT_EQ(second.size(), 3u);
    EXPECT_EQ(second[0].trackName, "t3.vlt");
    EXPECT_EQ(second[2].steps, 105);
    EXPECT_EQ(second[2].rank, 1);
    EXPECT_EQ(store.runsOf(ann, 6, 3, total).size(), 1u);
    EXPECT_TRUE(store.runsOf(ann, 9, 3, total).empty());
    EXPECT_EQ(total, 7);
}

INSTANTIATE_TEST_SUITE_P(Databases, TracksTest, testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

}  // namespace
