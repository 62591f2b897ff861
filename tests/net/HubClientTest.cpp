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
#include <memory>
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

RunOnTrack makeRun(const fs::path& dir, const std::string& content, int32_t steps, const std::string& name = "a.vlt")
{
    RunOnTrack run;
    run.trackPath = (dir / name).string();
    std::ofstream(run.trackPath, std::ios::binary) << std::string(8, '\0') << content;
    EXPECT_TRUE(trackDigest(run.trackPath, run.replay.digest));
    run.replay.trackName = name;
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
        hubSetClock([this] { return clock.load(); });
    }
    void TearDown() override
    {
        hubStop();
        hubSetTimeouts(HubTimeouts{});
        hubSetClock(nullptr);
        fs::remove_all(dir);
    }
    // Moves the hub thread's clock on.
    void later(int64_t seconds)
    {
        clock += seconds;
        hubWake();
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
    std::atomic<int64_t> clock{1'800'000'000};
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
    EXPECT_TRUE(validPlayerName("Rider One"));
    for (const char* name : {" Bob", "Bob ", " ", "Bo  b"}) {
        EXPECT_NE(playerNameProblem(name).find("space"), std::string::npos) << '"' << name << '"';
    }
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
            busy.headers.push_back("Retry-After: 100");
            return busy;
        }
        return request.target == "/api/runs" ? json(201, kRanked) : json(200, kTop);
    });
    registerOn(hub.url());
    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
    EXPECT_EQ(waitForAnswer(), "hub busy, will retry in 100 s");
    later(99);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(asked.load(), 1);
    later(1);
    EXPECT_TRUE(waitFor([&] { return hubSubmitLine(run.replay.digest).rfind("World: 3rd", 0) == 0; }));
    EXPECT_EQ(asked.load(), 2);
    EXPECT_TRUE(listOutbox(files).empty());
}

TEST(HubRetry, WaitsStartAtHalfAMinuteDoubleToAnHourAndRetryAfterOnlyLengthensThem)
{
    EXPECT_EQ(retryWait(1, -1), 30);
    EXPECT_EQ(retryWait(1, 0), 30);
    EXPECT_EQ(retryWait(2, 2), 60);
    EXPECT_EQ(retryWait(7, -1), 1920);
    EXPECT_EQ(retryWait(8, -1), 3600);
    EXPECT_EQ(retryWait(1000, -1), 3600);
    EXPECT_EQ(retryWait(1, 120), 120);
    EXPECT_EQ(retryWait(3, 10 * 86400), 86400);
}

// A hub that answers 503 "Retry-After: 0" to everything: asked once per
// wait, never more, until the run is given up and the player told once.
TEST_F(HubServiceTest, ABusyHubIsAskedOncePerWaitUntilTheRunIsGivenUp)
{
    StubHub hub([](const StubRequest&) {
        StubAnswer busy = json(503, R"({"error":"busy"})");
        busy.headers.push_back("Retry-After: 0");
        return busy;
    });
    registerOn(hub.url());
    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
    EXPECT_EQ(waitForAnswer(), "hub busy, will retry in 30 s");
    std::this_thread::sleep_for(300ms);
    later(29);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(hub.requests().size(), 1u);
    later(1);
    EXPECT_TRUE(waitFor([&] { return hubSubmitLine(run.replay.digest) == "hub busy, will retry in 60 s"; }));
    EXPECT_EQ(hub.requests().size(), 2u);
    // A restart keeps the wait: nothing goes before it.
    hubStop();
    ASSERT_TRUE(hubStart(files));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(hub.requests().size(), 2u);
    EXPECT_EQ(hubTakeNotice(), "");

    const OutboxEntry entry = listOutbox(files).at(0);
    size_t tries = 2;
    while (!listOutbox(files).empty() && tries < 40) {
        later(3600);
        ASSERT_TRUE(waitFor([&] { return hub.requests().size() > tries; })) << tries;
        tries = hub.requests().size();
        // The try is counted, or the run given up.
        waitFor([&] { return listOutbox(files).empty() || readOutboxTries(entry).tries == static_cast<int32_t>(tries); });
    }
    EXPECT_EQ(tries, static_cast<size_t>(kMaxSendTries));
    std::string notice;
    EXPECT_TRUE(waitFor([&] {
        notice = notice.empty() ? hubTakeNotice() : notice;
        return listOutbox(files).empty() && !notice.empty();
    }));
    EXPECT_EQ(notice, "World: run on a.vlt not sent: the hub did not take it in 30 tries");
    EXPECT_EQ(hubTakeNotice(), "");
    later(86400);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(hub.requests().size(), tries);
}

// Three runs wait; the hub fails the oldest. The other two go, and the
// oldest waits its own time, also across a restart.
TEST_F(HubServiceTest, ARunTheHubFailsNeverHoldsBackTheOthers)
{
    const RunOnTrack oldest = makeRun(dir, "one", 500, "one.vlt");
    const RunOnTrack second = makeRun(dir, "two", 600, "two.vlt");
    const RunOnTrack third = makeRun(dir, "three", 700, "three.vlt");
    for (const RunOnTrack* r : {&oldest, &second, &third}) {
        ASSERT_TRUE(putOutbox(files, r->replay, r->trackPath));
        const std::string path = files.outbox() + "/" + digestHex(r->replay.digest) + ".replay";
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(3) +
                                      std::chrono::minutes(r == &oldest ? 0 : r == &second ? 1 : 2));
    }
    const std::string oldestText = formatReplay(oldest.replay);
    StubHub hub([&](const StubRequest& request) {
        if (request.target == "/api/runs") {
            return request.body == oldestText ? json(500, "{}") : json(201, kRanked);
        }
        return json(200, kTop);
    });
    const auto oldestSent = [&] {
        size_t n = 0;
        for (const StubRequest& request : hub.requests()) {
            n += request.body == oldestText ? 1 : 0;
        }
        return n;
    };
    registerOn(hub.url());
    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(waitFor([&] { return listOutbox(files).size() == 1; }));
    EXPECT_EQ(listOutbox(files)[0].digest, oldest.replay.digest);
    EXPECT_EQ(hub.requests()[0].body, oldestText);   // in order
    hubStop();
    ASSERT_TRUE(hubStart(files));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(oldestSent(), 1u);
    later(30);
    EXPECT_TRUE(waitFor([&] { return oldestSent() == 2; }));
}

// A refusal for good, "too costly to verify" among them, is dropped at once
// and never sent again.
TEST_F(HubServiceTest, ARunRefusedForGoodIsDroppedAndNotResent)
{
    StubHub hub([](const StubRequest&) { return json(422, R"({"error":"too costly to verify"})"); });
    registerOn(hub.url());
    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
    EXPECT_EQ(waitForAnswer(), "run refused: too costly to verify");
    EXPECT_TRUE(waitFor([&] { return listOutbox(files).empty(); }));
    later(86400);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(hub.requests().size(), 1u);
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
        {json(500, "{}"), "hub answered 500, will retry", true},
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
    auto owned = std::make_unique<StubHub>([&](const StubRequest& request) {
        if (request.target.find("/times") != std::string::npos) {
            return json(200, empty ? "[]" : kTop);
        }
        StubAnswer replay;
        replay.body = formatReplay(record);
        return replay;
    });
    StubHub& hub = *owned;
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

    // The same hub gone: its record as last seen.
    hubStop();
    owned.reset();
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

TEST_F(HubServiceTest, BestTimesSetBeforeJoiningAreSentOnJoiningAndRanked)
{
    NEEDS_REAL_HUB();
    RealHub hub;
    ASSERT_TRUE(hub.running());
    const fs::path tracks = dir / "tracks";
    fs::create_directories(tracks);
    const std::string pack = std::string(VELTO_BINARY_DIR) + "/tracks/02-first-ride.vlt";
    Replay best;
    std::string error;
    ASSERT_EQ(readReplayFile(std::string(VELTO_SOURCE_DIR) + "/tests/data/tracks/02-first-ride.replay", best, error),
              ReplayReadError::None);
    // The pack's track with its best; a changed copy whose best was ridden
    // on the old bytes; a crash kept as a best; a track without one.
    fs::copy_file(pack, tracks / "02-first-ride.vlt");
    ASSERT_TRUE(writeReplayFile((tracks / "02-first-ride.replay").string(), best));
    fs::copy_file(pack, tracks / "changed.vlt");
    std::ofstream(tracks / "changed.vlt", std::ios::binary | std::ios::app) << "x";
    ASSERT_TRUE(writeReplayFile((tracks / "changed.replay").string(), best));
    Replay crash = best;
    crash.result = ReplayCrashed;
    fs::copy_file(pack, tracks / "crash.vlt");
    ASSERT_TRUE(writeReplayFile((tracks / "crash.replay").string(), crash));
    fs::copy_file(pack, tracks / "none.vlt");

    EXPECT_TRUE(listOutbox(files).empty()) << "nothing is queued before joining";
    std::ostringstream out, err;
    ASSERT_EQ(runHubCommand({"--hub", hub.url(), "--register", "Early Bird"}, files, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("\n1 best run from before will be sent.\n"), std::string::npos) << out.str();
    const auto waiting = listOutbox(files);
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].digest, best.digest);

    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(waitFor([&] { return listOutbox(files).empty(); }, 20000ms));
    hubRequestRecord(best.digest);
    ASSERT_TRUE(waitFor([&] { return hubRecord(best.digest).state != HubRecordState::Fetching; }));
    const HubRecord record = hubRecord(best.digest);
    ASSERT_EQ(record.state, HubRecordState::Ready) << record.line;
    EXPECT_EQ(record.holder, "Early Bird") << "the old best arrived and holds the record";
}

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

    // The next start, with the hub up, once the run's wait is over: the
    // track goes first, then the run.
    ASSERT_TRUE(writeHubAccount(files.settings(), account));
    ASSERT_TRUE(hubStart(files));
    later(30);
    ASSERT_TRUE(waitFor(
        [&] { return listOutbox(files).empty() && hubSubmitLine(run.replay.digest).rfind("World: 1st", 0) == 0; },
        20000ms));
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
    ASSERT_TRUE(hubStart(files));
    hub.pause();
    ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
    EXPECT_EQ(waitForAnswer(), "hub did not answer in time, will retry");
    hub.resume();
    hubSetTimeouts(HubTimeouts{});
    later(30);
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
    EXPECT_TRUE(waitFor([&] { return listOutbox(files).empty() && hubSubmitLine(run.replay.digest) == "World: 3rd of 57"; },
                        25000ms));
    EXPECT_EQ(hubSubmitLine(run.replay.digest), "World: 3rd of 57");
}

// `velto --hub-off` while the game runs: the thread sees the settings gone at
// its next exchange and stops; nothing is asked, nothing recreated.
TEST_F(HubServiceTest, HubOffFromOutsideStopsARunningGame)
{
    StubHub hub([](const StubRequest&) { return json(200, kTop); });
    registerOn(hub.url());
    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(waitFor([&] { return hubActive(); }));
    std::ostringstream out, err;
    ASSERT_EQ(runHubCommand({"--hub-off"}, files, out, err), 0);
    hubRequestRecord(run.replay.digest);
    EXPECT_TRUE(waitFor([&] { return !hubActive(); }));
    EXPECT_NE(hubRecord(run.replay.digest).state, HubRecordState::Ready);
    EXPECT_FALSE(hubSubmitBest(run.replay, run.trackPath));
    hubRequestTrackRecords();
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(hub.requests().empty());
    EXPECT_FALSE(fs::exists(files.outbox()));
    EXPECT_FALSE(fs::exists(files.records()));
}

// Each hub keeps its own records: a second hub never shows the first one's.
TEST_F(HubServiceTest, RecordsAreKeptApartByHub)
{
    Replay record = run.replay;
    record.steps = 2135;
    StubHub first([&](const StubRequest& request) {
        if (request.target.find("/times") != std::string::npos) {
            return json(200, kTop);
        }
        StubAnswer replay;
        replay.body = formatReplay(record);
        return replay;
    });
    registerOn(first.url());
    ASSERT_TRUE(hubStart(files));
    hubRequestRecord(run.replay.digest);
    ASSERT_TRUE(waitFor([&] { return hubRecord(run.replay.digest).state == HubRecordState::Ready; }));
    hubStop();
    // The second hub is out of reach: no record as last seen, for it has none.
    registerOn("http://127.0.0.1:" + std::to_string(closedPort()));
    ASSERT_TRUE(hubStart(files));
    hubRequestRecord(run.replay.digest);
    ASSERT_TRUE(waitFor([&] { return hubRecord(run.replay.digest).state != HubRecordState::Fetching; }));
    EXPECT_EQ(hubRecord(run.replay.digest).state, HubRecordState::Failed);
    EXPECT_NE(files.recordsOf("http://a"), files.recordsOf("http://b"));
}

// A new best is in the outbox when hubSubmitBest returns: a crash right
// after loses nothing.
TEST_F(HubServiceTest, ANewBestIsOnDiskBeforeItIsHandedOver)
{
    StubAnswer stall = json(201, kRanked);
    stall.delayMs = 3000;
    StubHub hub([&](const StubRequest&) { return stall; });
    registerOn(hub.url());
    ASSERT_TRUE(hubStart(files));
    ASSERT_TRUE(hubSubmitBest(run.replay, run.trackPath));
    const auto waiting = listOutbox(files);
    ASSERT_EQ(waiting.size(), 1u);
    std::string text;
    ASSERT_TRUE(readSmallFile(waiting[0].replayPath, text, 1 << 20));
    EXPECT_EQ(text, formatReplay(run.replay));
}

// Every file of the hub is read only when it is a regular file of a bounded
// size: a FIFO put in its place never holds the game.
TEST(HubStore, FifosAndHugeFilesInTheHubsPlaceAreRefusedAtOnce)
{
    const fs::path dir = freshDir("fifo");
    const HubFiles files{dir.string()};
    ASSERT_EQ(mkfifo(files.settings().c_str(), 0600), 0);
    HubAccount account;
    EXPECT_FALSE(readHubAccount(files.settings(), account));
    std::string text;
    EXPECT_FALSE(readSmallFile(files.settings(), text, 100));
    fs::create_directories(files.outbox());
    const std::string replay = files.outbox() + "/0123456789abcdef.replay";
    ASSERT_EQ(mkfifo(replay.c_str(), 0600), 0);
    ASSERT_EQ(listOutbox(files).size(), 1u);
    const OutboxEntry entry = listOutbox(files)[0];
    dropOutbox(files, entry, "");   // reads it first: must not wait
    EXPECT_EQ(readOutboxTries(entry).tries, 0);
    ASSERT_EQ(mkfifo(entry.triesPath.c_str(), 0600), 0);
    EXPECT_EQ(readOutboxTries(entry).tries, 0);
    fs::remove(files.settings());
    std::ofstream(files.settings()) << "url=http://h\nname=Bob\ntoken=t\n" << std::string(5000, '#');
    EXPECT_FALSE(readHubAccount(files.settings(), account));
    fs::remove_all(dir);
}

// The settings are written under a fresh name: a link planted where the old
// fixed name was never receives the token.
TEST(HubStore, AWriteNeverFollowsALinkBesideTheFile)
{
    const fs::path dir = freshDir("link");
    const HubFiles files{dir.string()};
    const fs::path victim = dir / "victim";
    std::ofstream(victim) << "mine";
    fs::create_symlink(victim, files.settings() + ".new");
    ASSERT_TRUE(writeHubAccount(files.settings(), HubAccount{"http://h", "Bob", "secret"}));
    std::string text;
    ASSERT_TRUE(readSmallFile(victim.string(), text, 100));
    EXPECT_EQ(text, "mine");
    HubAccount read;
    ASSERT_TRUE(readHubAccount(files.settings(), read));
    EXPECT_EQ(read.token, "secret");
    size_t left = 0;
    for (const auto& item : fs::directory_iterator(dir)) {
        left += item.path().filename().string().rfind("Velto.hub.new-", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(left, 0u);
    fs::remove_all(dir);
}

// Names with a blank at either end or two in a row are refused before the
// hub is asked; a registration whose settings cannot be written still gives
// the player the token.
TEST(HubCommand, BadNamesAreRefusedAndAnUnwrittenTokenIsShown)
{
    const fs::path dir = freshDir("names");
    StubHub hub([](const StubRequest&) { return json(201, R"({"token":"secret-2"})"); });
    std::ostringstream out, err;
    for (const std::string name : {" Bob", "Bob ", " ", "Bo  b"}) {
        EXPECT_EQ(runHubCommand({"--hub", hub.url(), "--register", name}, HubFiles{dir.string()}, out, err), 2);
    }
    EXPECT_NE(err.str().find("may not begin or end with a space"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("two spaces in a row"), std::string::npos) << err.str();
    EXPECT_TRUE(hub.requests().empty());
    EXPECT_EQ(runHubCommand({"foo"}, HubFiles{dir.string()}, out, err), 2);

    // The settings folder is not there: the name is taken, the token told.
    std::ostringstream err2;
    EXPECT_EQ(runHubCommand({"--hub", hub.url(), "--register", "Bob"}, HubFiles{(dir / "gone").string()}, out, err2), 1);
    EXPECT_NE(err2.str().find("token=secret-2"), std::string::npos) << err2.str();
    fs::remove_all(dir);
}

// The hub gives its track list a page at a time: every page is read until
// one is not full; a hub that gives the whole list at once is read once.
TEST(HubAnswers, TheTrackTableIsReadPageByPage)
{
    auto listOf = [](int from, int to) {
        std::string list = "[";
        for (int i = from; i < to; ++i) {
            char digest[17];
            std::snprintf(digest, sizeof digest, "%016x", i + 1);
            list += std::string(i > from ? "," : "") + R"({"digest":")" + digest +
                    R"(","record_steps":100,"record_holder":"Ann"})";
        }
        return list + "]";
    };
    std::atomic<bool> paged{true};
    StubHub hub([&](const StubRequest& request) {
        if (!paged) {
            return json(200, listOf(0, 150));
        }
        const size_t at = request.target.find("page=");
        const int page = at == std::string::npos ? 1 : std::atoi(request.target.c_str() + at + 5);
        return json(200, listOf((page - 1) * 100, std::min(page * 100, 250)));
    });
    const HubAccount account{hub.url(), "Bob", "t"};
    const TrackRecords table = fetchTrackRecords(account, HubTimeouts{}, nullptr);
    EXPECT_EQ(table.outcome, HubOutcome::Done);
    EXPECT_EQ(table.records.size(), 250u);
    const auto seen = hub.requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].target, "/api/tracks?page=3&limit=100");
    paged = false;
    EXPECT_EQ(fetchTrackRecords(account, HubTimeouts{}, nullptr).records.size(), 150u);
    EXPECT_EQ(hub.requests().size(), 4u);
}

// Answers are bounded in size and depth before they are parsed: deep
// nonsense is nonsense, and a megabyte of '[' costs a scan.
TEST(HubAnswers, DeepOrHugeAnswersAreNonsenseAndCheap)
{
    EXPECT_TRUE(jsonDepthWithin(R"({"times":[{"a":"[[[[[[["}]})", 4));
    EXPECT_FALSE(jsonDepthWithin("[[[[[]]]]]", 4));
    std::string deep = std::string(100, '[') + std::string(100, ']');
    std::atomic<int> which{0};
    StubHub hub([&](const StubRequest&) {
        switch (which.load()) {
        case 0: return json(200, deep);
        case 1: return json(200, std::string(1 << 20, '['));
        default: return json(200, std::string(3 << 20, ' ') + "[]");
        }
    });
    const HubAccount account{hub.url(), "Bob", "t"};
    for (int i = 0; i < 3; ++i) {
        which = i;
        EXPECT_EQ(fetchTrackRecords(account, HubTimeouts{}, nullptr).outcome, HubOutcome::Garbage) << i;
    }
    which = 0;
    EXPECT_EQ(fetchRecordTop(account, 1, HubTimeouts{}, nullptr).outcome, HubOutcome::Garbage);
}

// An upload's whole limit grows with its body at the slowest line we serve,
// and a transfer that stalls is still cut.
TEST(HubHttp, ABigUploadGetsTheTimeItsBodyNeedsButAStallIsCut)
{
    EXPECT_EQ(exchangeLimitMs(HubTimeouts{3000, 10000}, 0), 10000);
    EXPECT_EQ(exchangeLimitMs(HubTimeouts{3000, 10000}, 3'200'000), 60000);
    StubHub hub([](const StubRequest&) { return json(201, "{}"); });
    HttpRequest request;
    request.method = "POST";
    request.url = hub.url() + "/api/tracks";
    request.body = std::string(1'600'000, 'x');
    // Four seconds to take the body; the whole limit without it is two.
    hub.setBodyPace(400'000, 0);
    const HttpReply slow = httpExchange(request, HubTimeouts{3000, 2000});
    EXPECT_EQ(slow.outcome, HttpReply::Outcome::Answered) << slow.error;
    EXPECT_EQ(slow.status, 201);
    // A hub that takes nothing more: cut once the line's speed has fallen
    // for a second, long before the whole limit of 26 s.
    hub.setBodyPace(0, 20000);
    const auto start = std::chrono::steady_clock::now();
    const HttpReply stalled = httpExchange(request, HubTimeouts{3000, 1000});
    EXPECT_EQ(stalled.outcome, HttpReply::Outcome::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
}

// The manual tells what the command line and the keys really do.
TEST(HubManual, TheManualDocumentsTheHubsCommandsKeysAndFiles)
{
    std::string page;
    ASSERT_TRUE(readSmallFile(std::string(VELTO_SOURCE_DIR) + "/dist/man/velto.6", page, 1 << 20));
    for (const char* text : {"\\-\\-hub", "\\-\\-register", "\\-\\-hub\\-off", ".B N\n", ".B T\n", ".B W\n",
                             "Velto.hub", "hub\\-outbox/", "hub\\-records/", "par\\-times.txt", "exits with status 2"}) {
        EXPECT_NE(page.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(page.find("is ignored"), std::string::npos);
}
