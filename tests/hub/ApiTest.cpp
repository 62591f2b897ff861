// The hub's API against a real hub on loopback, on SQLite and on a
// throwaway PostgreSQL cluster.
#include "HubTestSupport.h"

#include "Store.h"
#include "model/Replay.h"

#include <cstring>
#include <future>

using namespace hubtest;

namespace {

bool isErrorBody(const hub::ClientResponse& r)
{
    const json body = json::parse(r.body, nullptr, false);
    return r.headers.count("content-type") && r.headers.at("content-type") == "application/json" &&
           body.is_object() && body.size() == 1 && body.contains("error") && body["error"].is_string() &&
           !body["error"].get<std::string>().empty();
}

class ApiTest : public BackendTest {
protected:
    // The flat track with three finishing replays: 226, 335 and 831 steps.
    void withFlatTrack(Hub& hub, const Player& author)
    {
        trackPath_ = dir_ + "/flat.vlt";
        writeFile(trackPath_, flatTrack());
        digest_ = addTrack(hub, author, "flat.vlt", flatTrack());
        fast_ = recordReplay(trackPath_, "0 U\n");
        middle_ = recordReplay(trackPath_, "0\n100 U\n160\n");
        slow_ = recordReplay(trackPath_, "0 U\n60\n");
    }
    hub::ClientResponse submit(Hub& hub, const Player& p, const std::string& replay)
    {
        return hub.request("POST", "/api/runs", p.auth(), replay);
    }
    std::string trackPath_, digest_, fast_, middle_, slow_;
};

TEST_P(ApiTest, PlayersRegisterOnceWithAFreshTokenAndValidNames)
{
    Hub hub(db_);
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann_the-1st rider");
    EXPECT_EQ(ann.token.size(), 64u);
    EXPECT_EQ(ann.token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(addPlayer(hub, "Bob").token, ann.token);

    auto taken = hub.request("POST", "/api/players", {}, R"({"name": "ANN_THE-1ST RIDER"})");
    EXPECT_EQ(taken.status, 409);
    EXPECT_TRUE(isErrorBody(taken)) << taken.body;
    for (const std::string body : {R"({"name": ""})", R"({"name": "abcdefghijklmnopqrstuvwxy"})",
                                   R"({"name": "<b>x</b>"})", R"({"name": "a\u00e9"})", R"({"name": 7})", "{", "[]"}) {
        auto r = hub.request("POST", "/api/players", {}, body);
        EXPECT_EQ(r.status, 400) << body;
        EXPECT_TRUE(isErrorBody(r)) << r.body;
    }
    // A blank at either end, or two in a row, is refused with its reason.
    for (const std::string name : {" Bob", "Bob ", " ", "Bo  b"}) {
        auto r = hub.request("POST", "/api/players", {}, json{{"name", name}}.dump());
        EXPECT_EQ(r.status, 400) << '"' << name << '"';
        EXPECT_NE(r.body.find("space"), std::string::npos) << r.body;
    }
    // 24 characters is still a name.
    addPlayer(hub, "abcdefghijklmnopqrstuvwx");
}

TEST_P(ApiTest, TracksAreStoredUnderTheReplayDigestAndRefusedAsTheGameRefusesThem)
{
    Hub hub(db_);
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const Player bob = addPlayer(hub, "Bob");
    const std::string file = readFile(packTrack("02-first-ride"));
    Replay proof;
    std::string error;
    ASSERT_TRUE(parseReplay(readFile(packReplay("02-first-ride")), proof, error)) << error;
    char expected[17];
    std::snprintf(expected, sizeof expected, "%016llx", static_cast<unsigned long long>(proof.digest));

    Headers h = ann.auth();
    h.emplace_back("X-Velto-Name", "02-first-ride.vlt");
    auto first = hub.request("POST", "/api/tracks", h, file);
    EXPECT_EQ(first.status, 201) << first.body;
    EXPECT_EQ(json::parse(first.body)["digest"], expected);

    // Another best time is the same track; the first uploader stays its author.
    std::string timed = file;
    const double time = 0.001;
    std::memcpy(timed.data(), &time, 8);
    Headers hb = bob.auth();
    hb.emplace_back("X-Velto-Name", "renamed.vlt");
    auto again = hub.request("POST", "/api/tracks", hb, timed);
    EXPECT_EQ(again.status, 200) << again.body;
    EXPECT_EQ(json::parse(again.body)["author"], "Ann");

    // The file comes back whole, without a best time.
    auto got = hub.request("GET", std::string("/api/tracks/") + expected);
    EXPECT_EQ(got.status, 200);
    ASSERT_EQ(got.body.size(), file.size());
    double stored = 0;
    std::memcpy(&stored, got.body.data(), 8);
    EXPECT_EQ(stored, -1.0);
    EXPECT_EQ(got.body.substr(8), file.substr(8));

    auto cut = hub.request("POST", "/api/tracks", h, file.substr(0, file.size() - 1));
    EXPECT_EQ(cut.status, 422);
    EXPECT_NE(cut.body.find("Cant't load the track."), std::string::npos) << cut.body;
    EXPECT_EQ(hub.request("POST", "/api/tracks", h, "").status, 422);

    Headers noName = ann.auth();
    EXPECT_EQ(hub.request("POST", "/api/tracks", noName, file).status, 400);
    Headers badName = ann.auth();
    badName.emplace_back("X-Velto-Name", "../etc/passwd");
    EXPECT_EQ(hub.request("POST", "/api/tracks", badName, file).status, 400);
    Headers wrong = {{"X-Velto-Player", "Ann"}, {"X-Velto-Token", bob.token}, {"X-Velto-Name", "a.vlt"}};
    EXPECT_EQ(hub.request("POST", "/api/tracks", wrong, file).status, 403);

    auto list = json::parse(hub.request("GET", "/api/tracks").body);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["name"], "02-first-ride.vlt");
    EXPECT_EQ(list[0]["author"], "Ann");
    EXPECT_EQ(list[0]["finishers"], 0);
    EXPECT_TRUE(list[0]["record_time"].is_null());
}

TEST_P(ApiTest, RunsCountOnlyWhenTheRideEndsAsTheReplaySays)
{
    Hub hub(db_);
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    withFlatTrack(hub, ann);

    // The keys changed under an honest header: the ride ends elsewhere.
    std::string forged = middle_;
    forged.replace(forged.find("# result: finished steps: 335 time: 00:03:35"), 44,
                   "# result: finished steps: 226 time: 00:02:26");
    auto r = submit(hub, ann, forged);
    EXPECT_EQ(r.status, 422) << r.body;
    EXPECT_TRUE(isErrorBody(r));
    std::string crashed = fast_;
    crashed.replace(crashed.find("finished"), 8, "crashed");
    EXPECT_EQ(submit(hub, ann, crashed).status, 422);
    EXPECT_EQ(submit(hub, ann, "# velto replay 1\nnot a replay\n").status, 400);
    EXPECT_EQ(submit(hub, ann, readFile(packReplay("02-first-ride"))).status, 404);
    EXPECT_EQ(submit(hub, Player{"Ann", std::string(64, '0')}, fast_).status, 403);
    EXPECT_EQ(submit(hub, Player{"Nobody", ann.token}, fast_).status, 403);
    EXPECT_EQ(json::parse(hub.request("GET", "/api/tracks/" + digest_ + "/times").body).size(), 0u);

    r = submit(hub, ann, middle_);
    ASSERT_EQ(r.status, 201) << r.body;
    EXPECT_EQ(json::parse(r.body), (json{{"track", digest_}, {"steps", 335}, {"time", "00:03:35"}, {"rank", 1}, {"of", 1}}));
}

TEST_P(ApiTest, EachPlayerKeepsTheirFastestRunAndTiesGoToTheEarlierOne)
{
    Hub hub(db_);
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    const Player bob = addPlayer(hub, "Bob");
    const Player cid = addPlayer(hub, "Cid");
    withFlatTrack(hub, ann);

    EXPECT_EQ(submit(hub, ann, middle_).status, 201);
    EXPECT_EQ(submit(hub, bob, middle_).status, 201);
    // Slower than her entry: answered with her standing, not stored.
    auto slower = submit(hub, ann, slow_);
    EXPECT_EQ(slower.status, 200);
    EXPECT_EQ(json::parse(slower.body)["steps"], 335);
    EXPECT_EQ(json::parse(slower.body)["rank"], 1);
    EXPECT_EQ(submit(hub, cid, slow_).status, 201);
    auto faster = submit(hub, bob, fast_);
    EXPECT_EQ(faster.status, 201);
    EXPECT_EQ(json::parse(faster.body)["rank"], 1);
    EXPECT_EQ(json::parse(faster.body)["of"], 3);

    auto times = json::parse(hub.request("GET", "/api/tracks/" + digest_ + "/times").body);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_EQ(times[0]["player"], "Bob");
    EXPECT_EQ(times[0]["steps"], 226);
    EXPECT_EQ(times[1]["player"], "Ann");
    EXPECT_EQ(times[2]["player"], "Cid");
    EXPECT_EQ(times[2]["rank"], 3);
    EXPECT_EQ(times[2]["time"], "00:08:31");
    EXPECT_EQ(times[0]["date"].get<std::string>().size(), 20u);
    EXPECT_EQ(json::parse(hub.request("GET", "/api/tracks/" + digest_ + "/times?limit=1").body).size(), 1u);
    EXPECT_EQ(hub.request("GET", "/api/tracks/" + digest_ + "/times?limit=x").status, 400);

    // Cid ties Ann later: behind her.
    EXPECT_EQ(json::parse(submit(hub, cid, middle_).body)["rank"], 3);

    // The record's replay comes back and holds.
    auto ghost = hub.request("GET", "/api/tracks/" + digest_ + "/runs/1.replay");
    ASSERT_EQ(ghost.status, 200);
    Replay replay;
    std::string error;
    ASSERT_TRUE(parseReplay(ghost.body, replay, error)) << error;
    EXPECT_EQ(replay.steps, 226);
    EXPECT_EQ(hub.request("GET", "/api/tracks/" + digest_ + "/runs/4.replay").status, 404);
    EXPECT_EQ(hub.request("GET", "/api/tracks/" + digest_ + "/runs/0.replay").status, 404);

    auto list = json::parse(hub.request("GET", "/api/tracks").body);
    EXPECT_EQ(list[0]["record_holder"], "Bob");
    EXPECT_EQ(list[0]["record_time"], "00:02:26");
    EXPECT_EQ(list[0]["finishers"], 3);
}

TEST_P(ApiTest, RefusalsAnswerOneJsonErrorAndLimitsSayWhenToComeBack)
{
    Hub hub(db_, {"--player-rate", "0.05"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    for (const auto& [method, target] : std::vector<std::pair<std::string, std::string>>{
             {"GET", "/api/nothing"}, {"GET", "/api/tracks/0123456789abcdef"}, {"DELETE", "/api/tracks"},
             {"GET", "/api/tracks/0123456789abcdef/times"}}) {
        auto r = hub.request(method, target);
        EXPECT_TRUE(r.status == 404 || r.status == 405) << target;
        EXPECT_TRUE(isErrorBody(r)) << r.body;
    }
    // Announced lengths over the caps are refused before the body is sent.
    hub::HttpClient raw("127.0.0.1", hub.port(), 10.0);
    std::string error;
    ASSERT_TRUE(raw.connect(error)) << error;
    ASSERT_TRUE(raw.sendRaw("POST /api/runs HTTP/1.1\r\nHost: x\r\nContent-Length: 1048577\r\n\r\n"));
    hub::ClientResponse big;
    ASSERT_TRUE(raw.readResponse(big, error)) << error;
    EXPECT_EQ(big.status, 413);
    EXPECT_TRUE(isErrorBody(big));
    ASSERT_TRUE(raw.connect(error)) << error;
    ASSERT_TRUE(raw.sendRaw("POST /api/tracks HTTP/1.1\r\nHost: x\r\nContent-Length: 16777217\r\n\r\n"));
    ASSERT_TRUE(raw.readResponse(big, error)) << error;
    EXPECT_EQ(big.status, 413);

    // The player's upload budget is one: the next waits.
    Headers h = ann.auth();
    h.emplace_back("X-Velto-Name", "flat.vlt");
    EXPECT_EQ(hub.request("POST", "/api/tracks", h, flatTrack()).status, 201);
    auto slow = hub.request("POST", "/api/tracks", h, flatTrack());
    EXPECT_EQ(slow.status, 429);
    EXPECT_TRUE(isErrorBody(slow));
    ASSERT_TRUE(slow.headers.count("retry-after"));
    EXPECT_GE(std::stoi(slow.headers.at("retry-after")), 1);

    // Two a second from one address, six at once: the rest must wait.
    hub.stop();
    Hub strict(db_, {"--address-rate", "2"});
    ASSERT_TRUE(strict.running()) << strict.errors();
    int limited = 0;
    for (int i = 0; i < 12; ++i) {
        auto r = strict.request("GET", "/api/health");
        if (r.status == 429) {
            ++limited;
            EXPECT_TRUE(r.headers.count("retry-after"));
        }
    }
    EXPECT_GT(limited, 0);
}

TEST_P(ApiTest, BehindAProxyEachForwardedAddressHasItsOwnLimit)
{
    Hub hub(db_, {"--behind-proxy", "--address-rate", "1"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    int limited = 0;
    for (int i = 0; i < 8; ++i) {
        limited += hub.request("GET", "/api/health", {{"X-Forwarded-For", "198.51.100.7, 10.0.0.1"}}).status == 429;
    }
    EXPECT_GT(limited, 0);
    EXPECT_EQ(hub.request("GET", "/api/health", {{"X-Forwarded-For", "10.0.0.2"}}).status, 200);
}

TEST_P(ApiTest, AFullVerificationQueueAnswersBusyAndTheHubRecovers)
{
    Hub hub(db_, {"--workers", "1", "--queue", "1", "--player-rate", "1000", "--address-rate", "1000"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    withFlatTrack(hub, ann);
    // Standing still for 30 minutes of riding, claimed as a finish: each
    // takes the one worker a while before it is refused.
    std::string standing = recordReplay(trackPath_, "0\n", "180000");
    standing.replace(standing.find("running"), 7, "finished");
    std::vector<std::future<hub::ClientResponse>> answers;
    for (int i = 0; i < 6; ++i) {
        answers.push_back(std::async(std::launch::async, [&] {
            hub::HttpClient c("127.0.0.1", hub.port(), 60.0);
            hub::ClientResponse r;
            std::string error;
            c.request("POST", "/api/runs", ann.auth(), standing, r, error);
            return r;
        }));
    }
    int busy = 0;
    for (auto& a : answers) {
        const auto r = a.get();
        EXPECT_TRUE(r.status == 422 || r.status == 503) << r.status << " " << r.body;
        if (r.status == 503) {
            ++busy;
            EXPECT_TRUE(r.headers.count("retry-after"));
            EXPECT_TRUE(isErrorBody(r));
        }
    }
    EXPECT_GT(busy, 0);
    EXPECT_EQ(submit(hub, ann, fast_).status, 201);
}

TEST_P(ApiTest, ARideOverItsCpuBudgetIsRefusedForGoodAndTheNextOneIsChecked)
{
    // Thirty minutes of standing on a pile of 160,000 edges take a minute
    // of CPU time or more on any machine; a ride of 2 seconds on flat ground
    // takes about a millisecond (tens under the sanitizers). A budget of
    // half a second lies far from both, however loaded the machine: it
    // counts the worker's CPU time, not the clock on the wall.
    Hub hub(db_, {"--workers", "1", "--ride-cpu", "0.5", "--track-step-cpu", "0"});
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    withFlatTrack(hub, ann);
    const std::string pile = addTrack(hub, ann, "pile.vlt", pileTrack(20));
    auto r = submit(hub, ann, standingReplay(pile));
    EXPECT_EQ(r.status, 422) << r.body;
    EXPECT_NE(r.body.find("too costly to verify"), std::string::npos) << r.body;
    EXPECT_FALSE(r.headers.count("retry-after"));
    EXPECT_EQ(submit(hub, ann, fast_).status, 201);
    auto health = json::parse(hub.request("GET", "/api/health").body);
    EXPECT_GE(health["ride_cpu_seconds"].get<double>(), 0.5);
}

TEST_P(ApiTest, ATrackWhoseStepsCostTooMuchIsRefusedAtUpload)
{
    // At the default budget a step may cost about 110 microseconds; on the
    // pile it costs milliseconds, on the pack's tracks a few microseconds
    // (a few tens under the sanitizers).
    Hub hub(db_);
    ASSERT_TRUE(hub.running()) << hub.errors();
    const Player ann = addPlayer(hub, "Ann");
    Headers h = ann.auth();
    h.emplace_back("X-Velto-Name", "pile.vlt");
    auto r = hub.request("POST", "/api/tracks", h, pileTrack(20));
    EXPECT_EQ(r.status, 422) << r.body;
    EXPECT_NE(r.body.find("too costly to verify"), std::string::npos) << r.body;
    EXPECT_EQ(json::parse(hub.request("GET", "/api/tracks").body).size(), 0u);
    addTrack(hub, ann, "02-first-ride.vlt", readFile(packTrack("02-first-ride")));
    EXPECT_EQ(json::parse(hub.request("GET", "/api/tracks").body).size(), 1u);
}

TEST_P(ApiTest, TheSchemaIsVersionedAndKeptAcrossRestarts)
{
    {
        Hub hub(db_);
        ASSERT_TRUE(hub.running()) << hub.errors();
        const Player ann = addPlayer(hub, "Ann");
        withFlatTrack(hub, ann);
        EXPECT_EQ(submit(hub, ann, fast_).status, 201);
        EXPECT_EQ(json::parse(hub.request("GET", "/api/health").body)["schema"], hub::kSchemaVersion);
        // With a kept-alive connection still open, SIGTERM ends it cleanly.
        EXPECT_EQ(hub.stop(), 0) << hub.errors();
    }
    Hub again(db_);
    ASSERT_TRUE(again.running()) << again.errors();
    auto health = json::parse(again.request("GET", "/api/health").body);
    EXPECT_EQ(health["status"], "ok");
    EXPECT_EQ(health["schema"], hub::kSchemaVersion);
    EXPECT_EQ(json::parse(again.request("GET", "/api/tracks/" + digest_ + "/times").body).size(), 1u);
    // The old token still works; the name is still taken.
    EXPECT_EQ(again.request("POST", "/api/players", {}, R"({"name": "ann"})").status, 409);
}

INSTANTIATE_TEST_SUITE_P(Databases, ApiTest, testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

}  // namespace
