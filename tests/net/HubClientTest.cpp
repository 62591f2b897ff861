// The hub client: what the player reads, what is kept on disk, and the
// background thread against a stand-in hub on loopback that answers, stalls,
// refuses, limits or talks nonsense.
#include "RealHub.h"
#include "StubHub.h"

#include "model/Replay.h"
#include "net/HubApi.h"
#include "net/HubCommand.h"
#include "net/HubService.h"
#include "net/HubStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

fs::path freshDir(const std::string& name)
{
    const fs::path dir = fs::temp_directory_path() / ("velto-net-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// A track file (any bytes past the best time make a digest) and a run on it.
struct RunOnTrack {
    std::string trackPath;
    Replay replay;
};

RunOnTrack makeRun(const fs::path& dir, const std::string& content, int32_t steps)
{
    RunOnTrack run;
    run.trackPath = (dir / "a.vlt").string();
    std::ofstream(run.trackPath, std::ios::binary) << std::string(8, '\0') << content;
    EXPECT_TRUE(trackDigest(run.trackPath, run.replay.digest));
    run.replay.trackName = "a.vlt";
    run.replay.result = ReplayFinished;
    run.replay.steps = steps;
    run.replay.changes = {KeyChange{0, KeyUp}};
    return run;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 8000ms)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

StubAnswer json(int status, const std::string& body)
{
    StubAnswer answer;
    answer.status = status;
    answer.body = body;
    answer.headers = {"Content-Type: application/json"};
    return answer;
}

const char* const kRanked = R"({"track":"x","steps":856,"time":"00:08:56","rank":3,"of":57})";
const char* const kTop = R"([{"rank":1,"player":"Ann","steps":2135,"time":"00:21:35","date":"2026-12-07"}])";

class HubServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = freshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        files.folder = dir.string();
        run = makeRun(dir, "track bytes", 856);
        hubSetTimeouts(HubTimeouts{});
        hubSetRetryDelay(60);
    }
    void TearDown() override
    {
        hubStop();
        hubSetTimeouts(HubTimeouts{});
        hubSetRetryDelay(60);
        fs::remove_all(dir);
    }
    void registerOn(const std::string& url)
    {
        ASSERT_TRUE(writeHubAccount(files.settings(), HubAccount{url, "Bob", "tok123"}));
    }
    std::string waitForAnswer()
    {
        waitFor([&] { return hubSubmitLine(run.replay.digest) != "World: sending..."; });
        return hubSubmitLine(run.replay.digest);
    }
    fs::path dir;
    HubFiles files;
    RunOnTrack run;
};

} // namespace

TEST(HubTexts, RanksRecordsAndRefusalsReadAsThePlayerSeesThem)
{
    EXPECT_EQ(ordinal(1), "1st");
    EXPECT_EQ(ordinal(2), "2nd");
    EXPECT_EQ(ordinal(3), "3rd");
    EXPECT_EQ(ordinal(4), "4th");
    EXPECT_EQ(ordinal(11), "11th");
    EXPECT_EQ(ordinal(12), "12th");
    EXPECT_EQ(ordinal(13), "13th");
    EXPECT_EQ(ordinal(21), "21st");
    EXPECT_EQ(ordinal(112), "112th");
    SubmitResult ranked;
    ranked.outcome = HubOutcome::Done;
    ranked.rank = 3;
    ranked.of = 57;
    ranked.recordKnown = true;
    ranked.recordSteps = 2135;
    ranked.recordHolder = "NAME";
    EXPECT_EQ(submitLine(ranked), "World: 3rd of 57 \x97 record 00:21:35 by NAME");
    SubmitResult refused;
    refused.outcome = HubOutcome::Refused;
    refused.message = "does not finish";
    EXPECT_EQ(submitLine(refused), "run refused: does not finish");
    EXPECT_EQ(printableText("a\x01\xff" "b", 3), "a??");
    EXPECT_EQ(parseRetryAfter(" 17 ", 30), 17);
    EXPECT_EQ(parseRetryAfter("Wed, 21 Oct 2026 07:28:00 GMT", 30), 30);
    std::string url, why;
    EXPECT_TRUE(normaliseHubUrl("https://hub.example/", url, why));
    EXPECT_EQ(url, "https://hub.example");
    EXPECT_FALSE(normaliseHubUrl("ftp://hub.example", url, why));
    EXPECT_FALSE(validPlayerName("a;b"));
    EXPECT_FALSE(validPlayerName(std::string(25, 'a')));
}

TEST(HubStore, TheSettingsAreThePlayersAloneAndTheOutboxKeepsANewerBest)
{
    const fs::path dir = freshDir("store");
    const HubFiles files{dir.string()};
    ASSERT_TRUE(writeHubAccount(files.settings(), HubAccount{"http://h", "Bob", "t0k"}));
    struct stat info{};
    ASSERT_EQ(stat(files.settings().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    HubAccount read;
    ASSERT_TRUE(readHubAccount(files.settings(), read));
    EXPECT_EQ(read.url, "http://h");
    EXPECT_EQ(read.name, "Bob");
    EXPECT_EQ(read.token, "t0k");

    const RunOnTrack first = makeRun(dir, "track", 900);
    ASSERT_TRUE(putOutbox(files, first.replay, first.trackPath));
    auto waiting = listOutbox(files);
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].digest, first.replay.digest);
    std::string copy;
    ASSERT_TRUE(readSmallFile(waiting[0].trackPath, copy, 1000));
    EXPECT_EQ(copy, std::string(8, '\0') + "track");
    // A newer best came while the first was being sent: it stays.
    Replay faster = first.replay;
    faster.steps = 800;
    ASSERT_TRUE(putOutbox(files, faster, first.trackPath));
    dropOutbox(files, waiting[0], formatReplay(first.replay));
    ASSERT_EQ(listOutbox(files).size(), 1u);
    dropOutbox(files, waiting[0], formatReplay(faster));
    EXPECT_TRUE(listOutbox(files).empty());
    EXPECT_FALSE(fs::exists(waiting[0].trackPath));

    std::ostringstream out, err;
    EXPECT_EQ(runHubCommand({"--hub-off"}, files, out, err), 0);
    EXPECT_FALSE(fs::exists(files.settings()));
    EXPECT_FALSE(hubStart(files));   // nothing set: no thread, nothing sent
    EXPECT_FALSE(hubActive());
    fs::remove_all(dir);
}

TEST(HubCommand, RegisteringKeepsTheTokenAndRefusalsAreTold)
{
    const fs::path dir = freshDir("register");
    const HubFiles files{dir.string()};
    StubHub hub([](const StubRequest& request) {
        if (request.body.find("\"Taken\"") != std::string::npos) {
            return json(409, R"({"error":"name taken"})");
        }
        return json(201, R"({"token":"secret-1"})");
    });
    std::ostringstream out, err;
    EXPECT_EQ(runHubCommand({"--hub", hub.url() + "/", "--register", "Bob"}, files, out, err), 0);
    HubAccount account;
    ASSERT_TRUE(readHubAccount(files.settings(), account));
    EXPECT_EQ(account.url, hub.url());
    EXPECT_EQ(account.name, "Bob");
    EXPECT_EQ(account.token, "secret-1");
    const auto seen = hub.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].target, "/api/players");
    EXPECT_EQ(seen[0].body, R"({"name":"Bob"})");

    EXPECT_EQ(runHubCommand({"--hub", hub.url(), "--register", "Taken"}, files, out, err), 1);
    EXPECT_NE(err.str().find("taken"), std::string::npos);
    EXPECT_EQ(runHubCommand({"--hub", "localhost:1", "--register", "Bob"}, files, out, err), 2);
    EXPECT_EQ(runHubCommand({"--register", "Bob"}, files, out, err), 2);
    ASSERT_TRUE(readHubAccount(files.settings(), account));
    EXPECT_EQ(account.token, "secret-1");   // refusals leave the kept account alone
    fs::remove_all(dir);
}

TEST_F(HubServiceTest, AnUnknownTrackGoesFirstThenTheRunIsRankedAndLeavesTheOutbox)
{
    std::atomic<bool> trackKnown{false};
    StubHub hub([&](const StubRequest& request) {
        if (request.target == "/api/tracks") {
            trackKnown = true;
            return json(201, "{}");
        }
        if (request.target == "/api/runs") {
            return trackKnown ? json(201, kRanked) : json(404, R"({"error":"unknown track"})");
        }
        return json(200, kTop);
    });
    registerOn(hub.url());
    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
    EXPECT_EQ(waitForAnswer(), "World: 3rd of 57 \x97 record 00:21:35 by Ann");
    EXPECT_TRUE(waitFor([&] { return listOutbox(files).empty(); }));

    const auto seen = hub.requests();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].target, "/api/runs");
    EXPECT_EQ(seen[0].body, formatReplay(run.replay));
    EXPECT_EQ(seen[0].headers.at("x-velto-player"), "Bob");
    EXPECT_EQ(seen[0].headers.at("x-velto-token"), "tok123");
    EXPECT_EQ(seen[1].target, "/api/tracks");
    EXPECT_EQ(seen[1].headers.at("x-velto-name"), "a.vlt");
    EXPECT_EQ(seen[1].body, std::string(8, '\0') + "track bytes");
    EXPECT_EQ(seen[2].target, "/api/runs");
    EXPECT_EQ(seen[3].target, "/api/tracks/" + digestHex(run.replay.digest) + "/times?limit=1");
}

TEST_F(HubServiceTest, BusyHubsAreAskedAgainAfterTheirRetryAfter)
{
    std::atomic<int> asked{0};
    StubHub hub([&](const StubRequest& request) {
        if (request.target == "/api/runs" && asked++ == 0) {
            StubAnswer busy = json(429, R"({"error":"slow down"})");
            busy.headers.push_back("Retry-After: 1");
            return busy;
        }
        return request.target == "/api/runs" ? json(201, kRanked) : json(200, kTop);
    });
    registerOn(hub.url());
    ASSERT_TRUE(hubStart(files));
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
    EXPECT_EQ(waitForAnswer(), "hub busy, will retry in 1 s");
    EXPECT_TRUE(waitFor([&] { return hubSubmitLine(run.replay.digest).rfind("World: 3rd", 0) == 0; }));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 1s);
    EXPECT_EQ(asked.load(), 2);
    EXPECT_TRUE(listOutbox(files).empty());
}

TEST_F(HubServiceTest, NonsenseStallsAndRefusalsEachGetTheirLine)
{
    struct Case {
        StubAnswer answer;
        std::string line;
        bool kept;
    };
    StubAnswer nonsense;
    nonsense.raw = "HTTP/1.1 201 Created\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot json!";
    StubAnswer notHttp;
    notHttp.raw = "hello there\r\n\r\n";
    StubAnswer stall = json(201, kRanked);
    stall.delayMs = 2000;
    const std::vector<Case> cases = {
        {nonsense, "hub answered nonsense, will retry", true},
        {notHttp, "hub unreachable, will retry", true},
        {stall, "hub did not answer in time, will retry", true},
        {json(403, R"({"error":"wrong token"})"), "hub refused our token: register again", true},
        {json(422, R"({"error":"does not finish as it says"})"), "run refused: does not finish as it says", false},
        {json(413, "<html>too big</html>"), "run refused: hub answered 413", false},
    };
    hubSetTimeouts(HubTimeouts{300, 500});
    for (const Case& c : cases) {
        StubHub hub([&](const StubRequest&) { return c.answer; });
        registerOn(hub.url());
        ASSERT_TRUE(hubStart(files));
        ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
        EXPECT_EQ(waitForAnswer(), c.line);
        EXPECT_EQ(waitFor([&] { return listOutbox(files).empty(); }, c.kept ? 200ms : 5000ms), !c.kept) << c.line;
        hubStop();
    }
}

TEST_F(HubServiceTest, StoppingEndsATransferThatStallsAtOnce)
{
    StubAnswer stall = json(201, kRanked);
    stall.delayMs = 5000;
    StubHub hub([&](const StubRequest&) { return stall; });
    registerOn(hub.url());
    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
    ASSERT_TRUE(waitFor([&] { return !hub.requests().empty(); }));
    const auto before = std::chrono::steady_clock::now();
    hubStop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(listOutbox(files).size(), 1u);   // sent at the next start
}

TEST_F(HubServiceTest, TheRecordIsFetchedOnceThenTakenFromTheCacheOffline)
{
    Replay record = run.replay;
    record.steps = 2135;
    std::atomic<bool> empty{true};
    StubHub hub([&](const StubRequest& request) {
        if (request.target.find("/times") != std::string::npos) {
            return json(200, empty ? "[]" : kTop);
        }
        StubAnswer replay;
        replay.body = formatReplay(record);
        return replay;
    });
    registerOn(hub.url());
    ASSERT_TRUE(hubStart(files));
    const uint64_t digest = run.replay.digest;
    hubRequestRecord(digest);
    ASSERT_TRUE(waitFor([&] { return hubRecord(digest).state != HubRecordState::Fetching; }));
    EXPECT_EQ(hubRecord(digest).state, HubRecordState::Failed);
    EXPECT_EQ(hubRecord(digest).line, "No record yet");

    empty = false;
    for (int ask = 0; ask < 2; ++ask) {
        hubRequestRecord(digest);
        ASSERT_TRUE(waitFor([&] { return hubRecord(digest).state != HubRecordState::Fetching; }));
        ASSERT_EQ(hubRecord(digest).state, HubRecordState::Ready);
        EXPECT_EQ(hubRecord(digest).replayText, formatReplay(record));
        EXPECT_EQ(hubRecord(digest).holder, "Ann");
    }
    // The replay was downloaded once: the second time the cache matched.
    int replays = 0;
    for (const StubRequest& request : hub.requests()) {
        replays += request.target == "/api/tracks/" + digestHex(digest) + "/runs/1.replay" ? 1 : 0;
    }
    EXPECT_EQ(replays, 1);

    hubStop();
    registerOn("http://127.0.0.1:" + std::to_string(closedPort()));
    ASSERT_TRUE(hubStart(files));
    hubRequestRecord(digest);
    ASSERT_TRUE(waitFor([&] { return hubRecord(digest).state != HubRecordState::Fetching; }));
    EXPECT_EQ(hubRecord(digest).state, HubRecordState::Ready);
    EXPECT_EQ(hubRecord(digest).holder, "Ann");
}

// Against a real velto-hub on loopback, which rides every run again.
class HubEndToEndTest : public HubServiceTest {
protected:
    void SetUp() override
    {
        HubServiceTest::SetUp();
        NEEDS_REAL_HUB();
        ASSERT_TRUE(hub.running());
        // The first track of the pack and its proof run, which finishes.
        run.trackPath = (dir / "02-first-ride.vlt").string();
        fs::copy_file(std::string(VELTO_BINARY_DIR) + "/tracks/02-first-ride.vlt", run.trackPath);
        std::string error;
        ASSERT_EQ(readReplayFile(std::string(VELTO_SOURCE_DIR) + "/tests/data/tracks/02-first-ride.replay",
                                 run.replay, error),
                  ReplayReadError::None);
        std::ostringstream out, err;
        ASSERT_EQ(runHubCommand({"--hub", hub.url(), "--register", "Rider One"}, files, out, err), 0) << err.str();
        ASSERT_TRUE(readHubAccount(files.settings(), account));
    }
    RealHub hub;
    HubAccount account;
};

TEST_F(HubEndToEndTest, ARunWaitsWhileTheHubIsDownThenIsRankedAndComesBackAsTheRecord)
{
    HubAccount down = account;
    down.url = "http://127.0.0.1:" + std::to_string(closedPort());
    ASSERT_TRUE(writeHubAccount(files.settings(), down));
    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
    EXPECT_EQ(waitForAnswer(), "hub unreachable, will retry");
    hubStop();
    ASSERT_EQ(listOutbox(files).size(), 1u);

    // The next start, with the hub up: the track goes first, then the run.
    ASSERT_TRUE(writeHubAccount(files.settings(), account));
    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(waitFor([&] { return listOutbox(files).empty(); }, 20000ms));
    const std::string time = formatReplay(run.replay).substr(formatReplay(run.replay).find("time: ") + 6, 8);
    EXPECT_EQ(hubSubmitLine(run.replay.digest), "World: 1st of 1 \x97 record " + time + " by Rider One");

    hubRequestRecord(run.replay.digest);
    ASSERT_TRUE(waitFor([&] { return hubRecord(run.replay.digest).state != HubRecordState::Fetching; }));
    const HubRecord record = hubRecord(run.replay.digest);
    ASSERT_EQ(record.state, HubRecordState::Ready) << record.line;
    EXPECT_EQ(record.holder, "Rider One");
    Replay back;
    std::string error;
    ASSERT_TRUE(parseReplay(record.replayText, back, error)) << error;
    EXPECT_EQ(back.steps, run.replay.steps);
    EXPECT_EQ(back.changes.size(), run.replay.changes.size());

    // A forged time is refused for good; a wrong token is kept for later.
    Replay forged = run.replay;
    forged.steps += 5;
    ASSERT_TRUE(hubSubmitBest(forged, run.trackPath));
    EXPECT_EQ(waitForAnswer().rfind("run refused: the run does not hold", 0), 0u) << hubSubmitLine(forged.digest);
    EXPECT_TRUE(waitFor([&] { return listOutbox(files).empty(); }));
    hubStop();
    HubAccount wrong = account;
    wrong.token += "x";
    ASSERT_TRUE(writeHubAccount(files.settings(), wrong));
    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
    EXPECT_EQ(waitForAnswer(), "hub refused our token: register again");
    EXPECT_EQ(listOutbox(files).size(), 1u);
}

TEST_F(HubEndToEndTest, AStalledHubTimesOutAndIsTriedAgainWhenItAnswers)
{
    hubSetTimeouts(HubTimeouts{3000, 1000});
    hubSetRetryDelay(1);
    ASSERT_TRUE(hubStart(files));
    hub.pause();
    ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
    EXPECT_EQ(waitForAnswer(), "hub did not answer in time, will retry");
    hub.resume();
    hubSetTimeouts(HubTimeouts{});
    EXPECT_TRUE(waitFor([&] { return hubSubmitLine(run.replay.digest).rfind("World: 1st of 1", 0) == 0; }, 20000ms))
        << hubSubmitLine(run.replay.digest);
    EXPECT_TRUE(listOutbox(files).empty());
}

// The game killed while it sends: the run stays in the outbox and goes at the
// next start.
TEST_F(HubServiceTest, ARunSentWhenTheGameIsKilledGoesAtTheNextStart)
{
    std::atomic<bool> stall{true};
    StubHub hub([&](const StubRequest& request) {
        StubAnswer answer = request.target == "/api/runs" ? json(201, kRanked) : json(200, "[]");
        answer.delayMs = stall ? 20000 : 0;
        return answer;
    });
    registerOn(hub.url());
    ASSERT_TRUE(putOutbox(files, run.replay, run.trackPath));

    const std::string sender = std::string(VELTO_BINARY_DIR) + "/tests/velto-hub-sender";
    const std::string folder = files.folder;
    const char* argv[] = {sender.c_str(), folder.c_str(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, sender.c_str(), nullptr, nullptr, const_cast<char* const*>(argv), environ), 0);
    const bool seen = waitFor([&] { return !hub.requests().empty(); });
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(seen);
    EXPECT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(listOutbox(files).size(), 1u);

    stall = false;
    ASSERT_TRUE(hubStart(files));
    EXPECT_TRUE(waitFor([&] { return listOutbox(files).empty(); }, 25000ms));
    EXPECT_EQ(hubSubmitLine(run.replay.digest), "World: 3rd of 57");
}
