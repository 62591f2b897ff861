// The game mode with a hub (a stand-in on loopback): a new best goes out by
// itself and the end panel tells its rank when the answer comes, while the
// frames go on; W races the track's record as a second ghost after riding it
// with the game's physics, and leaves the player's run exactly as it was.
#include "GameTestSupport.h"
#include "RealHub.h"
#include "StubHub.h"

#include "game/Game.h"
#include "game/GameGhost.h"
#include "game/GameReplay.h"
#include "game/GameHub.h"
#include "game/GameWindow.h"
#include "game/TrackListView.h"
#include "gfx/Text.h"
#include "model/Globals.h"
#include "model/RunTime.h"
#include "net/HubBrowse.h"
#include "net/HubCommand.h"
#include "net/HubService.h"
#include "physics/RunKeys.h"
#include "physics/World.h"
#include "platform/PerfCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>

using namespace std::chrono_literals;

namespace {

void threadStep()
{
    clockWaiting = false;
    const int32_t r = stepRun();
    stepCount.fetch_add(1);
    stepResult = r;
}

// A ride of `changes` on the track to its end, as a replay. No world may be
// built; none is left.
Replay rideToTheEnd(const std::string& path, const std::vector<KeyChange>& changes)
{
    Replay replay;
    replay.trackName = "track.vlt";
    EXPECT_TRUE(trackDigest(path, replay.digest));
    replay.changes = changes;
    EXPECT_TRUE(buildWorld(path));
    KeyPlayer keys;
    keys.begin(&replay.changes);
    int32_t result = StepRunning;
    while (result == StepRunning && replay.steps < 5000) {
        result = stepWorldWithKeys(kStepSeconds, keys.keysAt(static_cast<uint64_t>(replay.steps)));
        ++replay.steps;
    }
    replay.result = result;
    freeWorld();
    return replay;
}

class GameHubTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        path = (dir / "track.vlt").string();
        TestTrack track;
        track.finishX = 400.0;
        ASSERT_TRUE(writeTestTrack(path, track));
        record = rideToTheEnd(path, {KeyChange{0, KeyUp}});
        ASSERT_EQ(record.result, StepFinished);
        trackPath = path;
        gameMode = true;
        modeWidth = 800;
        modeHeight = 600;
        ASSERT_TRUE(queryPerformanceFrequency(perfFrequency));
        stepTicks = std::llround(static_cast<double>(perfFrequency) * 0.01);
        ASSERT_TRUE(setupWorld());
        clearKeys();
        windowActive = true;
        frameDrawing = false;
        frameSceneDrawer = nullptr;
        frameTextLog = &log;
        stepResult = 0;
        physicsEnabled = false;
        restartStepClock();
    }

    void TearDown() override
    {
        hubStop();
        freeWorld();
        clearRecordGhost();
        frameDrawing = true;
        frameSceneDrawer = drawScene;
        frameTextLog = nullptr;
        windowActive = false;
        clearKeys();
        std::filesystem::remove_all(dir);
    }

    void startHub(const std::string& url)
    {
        const HubFiles files{dir.string()};
        ASSERT_TRUE(writeHubAccount(files.settings(), HubAccount{url, "Bob", "tok"}));
        ASSERT_TRUE(hubStart(files));
    }

    // Throttle to the finish; the first frame that sees it.
    int32_t ride()
    {
        keyDown[VK_UP] = true;
        while (stepResult.load() == StepRunning && stepCount.load() < 3000) {
            threadStep();
        }
        keyDown[VK_UP] = false;
        return frame(GameRunning);
    }

    int32_t frame(int32_t state)
    {
        log.clear();
        return gameFrame(state);
    }

    bool find(const std::string& text) const
    {
        return std::any_of(log.begin(), log.end(), [&](const OverlayText& item) { return item.text == text; });
    }

    // The hub's panel lines of the last frame, among the panel's others.
    std::vector<std::string> hubLines() const
    {
        std::vector<std::string> lines;
        for (const auto& item : log) {
            for (const char* start : {"World", "Record ghost", "No record", "record refused", "hub ", "run refused"}) {
                if (item.y < -100.0 && item.text.rfind(start, 0) == 0) {
                    lines.push_back(item.text);
                    break;
                }
            }
        }
        return lines;
    }

    // Frames of the end panel until a hub line other than `pending` shows.
    std::vector<std::string> framesUntilAnswered(int32_t state, const std::string& pending,
                                                 std::chrono::nanoseconds& slowest)
    {
        slowest = {};
        const auto end = std::chrono::steady_clock::now() + 8s;
        while (std::chrono::steady_clock::now() < end) {
            const auto before = std::chrono::steady_clock::now();
            EXPECT_EQ(frame(state), state);
            slowest = std::max<std::chrono::nanoseconds>(slowest, std::chrono::steady_clock::now() - before);
            const auto lines = hubLines();
            if (lines.empty() || lines.back() != pending) {
                return lines;
            }
            std::this_thread::sleep_for(1ms);
        }
        return hubLines();
    }

    std::filesystem::path dir;
    std::string path;
    Replay record;
    std::vector<OverlayText> log;
};

} // namespace

TEST_F(GameHubTest, ANewBestGoesOutAndTheEndPanelTellsItsRankWhenTheAnswerComes)
{
    StubHub hub([](const StubRequest& request) {
        StubAnswer answer;
        if (request.target == "/api/runs") {
            answer.status = 201;
            answer.body = R"({"track":"t","steps":150,"time":"00:01:50","rank":1,"of":1})";
            answer.delayMs = 4000;
        } else {
            answer.body = R"([{"rank":1,"player":"Bob","steps":150}])";
        }
        return answer;
    });
    startHub(hub.url());
    ASSERT_EQ(ride(), GameFinished);
    std::chrono::nanoseconds slowest{};
    const auto lines = framesUntilAnswered(GameFinished, "World: sending...", slowest);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("World: 1st of 1 \x97 record ", 0), 0u) << lines[0];
    // A frame that waited for the hub would take most of its 4 s; a loaded
    // machine and a sanitizer build slow frames down, not to that.
    EXPECT_LT(slowest, 1500ms);
    ASSERT_FALSE(hub.requests().empty());
    EXPECT_EQ(hub.requests()[0].body, formatReplay(lastRunReplay()));

    // A run that is no new best sends nothing and adds no line.
    keyDown[VK_RETURN] = true;
    ASSERT_EQ(frame(GameFinished), GameRestart);
    ASSERT_TRUE(restartRun());
    const size_t asked = hub.requests().size();
    ASSERT_EQ(ride(), GameFinished);
    EXPECT_TRUE(hubLines().empty());

    // Nor does a new best on the editor's test ride, whose track is a scratch copy.
    TestTrack track;
    track.finishX = 400.0;
    ASSERT_TRUE(writeTestTrack(path, track));
    keyDown[VK_RETURN] = true;
    ASSERT_EQ(frame(GameFinished), GameRestart);
    ASSERT_TRUE(restartRun());
    setHubSending(false);
    ASSERT_EQ(ride(), GameFinished);
    setHubSending(true);
    EXPECT_TRUE(find("Best time!"));
    EXPECT_TRUE(hubLines().empty());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(hub.requests().size(), asked);
}

TEST_F(GameHubTest, WRacesTheRecordAsASecondGhostAndLeavesTheRunAsItWas)
{
    std::atomic<int> variant{0};
    StubHub hub([&](const StubRequest& request) {
        StubAnswer answer;
        Replay sent = record;
        if (variant == 1) {
            sent.steps += 7;   // claims a time the ride does not give
        }
        if (request.target.find("/times") != std::string::npos) {
            answer.body = variant == 2 ? "[]" : R"([{"rank":1,"player":"Ann","steps":)" +
                                                    std::to_string(sent.steps) + "}]";
        } else {
            answer.body = formatReplay(sent);
        }
        return answer;
    });
    startHub(hub.url());
    // Paused in the middle of a run.
    keyDown[VK_UP] = true;
    for (int i = 0; i < 60; ++i) {
        threadStep();
    }
    keyDown[VK_UP] = false;
    const double x = simMoto->position.x;
    const double shownX = shownMoto->position.x;
    const int32_t steps = stepCount.load();
    keyDown[VK_ESCAPE] = true;
    ASSERT_EQ(frame(GameRunning), GamePaused);
    keyDown[VK_ESCAPE] = false;

    keyDown['W'] = true;
    ASSERT_EQ(frame(GamePaused), GamePaused);
    EXPECT_EQ(hubLines(), std::vector<std::string>{"World record: fetching..."});
    std::chrono::nanoseconds slowest{};
    auto lines = framesUntilAnswered(GamePaused, "World record: fetching...", slowest);
    EXPECT_EQ(lines, std::vector<std::string>{"Record ghost: " + formatRunTime(runTimeOfSteps(record.steps)) +
                                              " by Ann"});
    ASSERT_TRUE(recordGhostReady(record.digest));
    EXPECT_EQ(recordGhostPath().poses.size(), static_cast<size_t>(record.steps) + 1);
    // The run goes on from where it stood, bit for bit.
    EXPECT_EQ(simMoto->position.x, x);
    EXPECT_EQ(shownMoto->position.x, shownX);
    EXPECT_EQ(stepCount.load(), steps);
    keyDown[VK_SPACE] = true;
    ASSERT_EQ(frame(GamePaused), GameRunning);

    // It stays for the next run; W again hides it.
    ASSERT_TRUE(restartRun());
    EXPECT_TRUE(recordGhostReady(record.digest));
    keyDown[VK_ESCAPE] = true;
    ASSERT_EQ(frame(GameRunning), GamePaused);
    keyDown[VK_ESCAPE] = false;
    keyDown['W'] = true;
    frame(GamePaused);
    EXPECT_FALSE(recordGhostReady(record.digest));
    EXPECT_TRUE(hubLines().empty());

    // A record that does not finish as it says, and none at all.
    for (const auto& [which, line] : {std::pair{1, "record refused: it does not finish as it says on this track"},
                                      std::pair{2, "No record yet"}}) {
        variant = which;
        keyDown['W'] = true;
        frame(GamePaused);
        lines = framesUntilAnswered(GamePaused, "World record: fetching...", slowest);
        EXPECT_EQ(lines, std::vector<std::string>{line});
        EXPECT_FALSE(recordGhostReady(record.digest));
    }
}

// End to end with a real velto-hub: a new best ridden here is ridden again
// by the hub, the end panel's line comes when it answers, also after the hub
// stalled meanwhile with frames going on at their pace, and W races the
// verified record.
TEST_F(GameHubTest, ARealHubRanksTheBestRunWhileFramesGoOnAndItsRecordRacesHere)
{
    NEEDS_REAL_HUB();
    RealHub hub;
    ASSERT_TRUE(hub.running());
    const HubFiles files{dir.string()};
    std::ostringstream out, err;
    ASSERT_EQ(runHubCommand({"--hub", hub.url(), "--register", "Bob"}, files, out, err), 0) << err.str();
    ASSERT_TRUE(hubStart(files));

    hub.pause();
    ASSERT_EQ(ride(), GameFinished);
    const std::string time = formatRunTime(runTimeOfSteps(stepCount.load()));
    std::chrono::nanoseconds slowest{};
    const auto stalled = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - stalled < 3000ms) {
        const auto before = std::chrono::steady_clock::now();
        ASSERT_EQ(frame(GameFinished), GameFinished);
        slowest = std::max<std::chrono::nanoseconds>(slowest, std::chrono::steady_clock::now() - before);
        ASSERT_EQ(hubLines(), std::vector<std::string>{"World: sending..."});
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_LT(slowest, 1000ms);   // no frame waited for the held hub (3 s)
    hub.resume();
    auto lines = framesUntilAnswered(GameFinished, "World: sending...", slowest);
    EXPECT_EQ(lines, std::vector<std::string>{"World: 1st of 1 \x97 record " + time + " by Bob"});

    keyDown['W'] = true;
    frame(GameFinished);
    lines = framesUntilAnswered(GameFinished, "World record: fetching...", slowest);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "Record ghost: " + time + " by Bob");
    EXPECT_TRUE(recordGhostReady(lastRunReplay().digest));
}

namespace {

std::vector<std::string> listTexts;
// Where each text ends on the right, at its scale.
std::vector<double> listRights;

void keepText(const std::string& text, float, float, float, float, double x, double, double scale, bool)
{
    listTexts.push_back(text);
    listRights.push_back(x + textWidth(text, scale));
}

bool listShows(const std::string& text)
{
    return std::find(listTexts.begin(), listTexts.end(), text) != listTexts.end();
}

} // namespace

TEST_F(GameHubTest, TheTrackListShowsTheWorldRecordBesideTheBestWhenAHubIsSet)
{
    uint64_t digest = 0;
    ASSERT_TRUE(trackDigest(path, digest));
    StubHub hub([&](const StubRequest& request) {
        StubAnswer answer;
        if (request.target.rfind("/api/tracks?", 0) == 0) {   // the table of tracks, a page
            answer.body = R"([{"digest":")" + digestHex(digest) +
                          R"(","name":"t.vlt","author":"Ann","finishers":3,"record_steps":2135,)"
                          R"("record_time":"00:21:35","record_holder":"Ann"},)"
                          R"({"digest":"0123456789abcdef","record_steps":null,"record_holder":null}])";
        }
        return answer;
    });
    openTrackListView(path);
    listTexts.clear();
    trackListFrame(800.0, 600.0, keepText, false);
    EXPECT_FALSE(listShows("world")) << "no hub, no column";
    closeTrackListView();

    startHub(hub.url());
    openTrackListView(path);
    const auto end = std::chrono::steady_clock::now() + 5s;
    do {
        listTexts.clear();
        trackListFrame(800.0, 600.0, keepText, false);
        std::this_thread::sleep_for(5ms);
    } while (!listShows("world 00:21:35 by Ann") && std::chrono::steady_clock::now() < end);
    EXPECT_TRUE(listShows("world"));
    EXPECT_TRUE(listShows("00:21:35"));
    EXPECT_TRUE(listShows("world 00:21:35 by Ann"));
    closeTrackListView();
}

// The track file edited while the run waits paused: W leaves the run on its
// own track, bit for bit, and says why the record is not raced.
TEST_F(GameHubTest, WAfterTheTrackFileChangedLeavesThePausedRunOnItsOwnTrack)
{
    StubHub hub([&](const StubRequest& request) {
        StubAnswer answer;
        answer.body = request.target.find("/times") != std::string::npos
                          ? R"([{"rank":1,"player":"Ann","steps":)" + std::to_string(record.steps) + "}]"
                          : formatReplay(record);
        return answer;
    });
    startHub(hub.url());
    keyDown[VK_UP] = true;
    for (int i = 0; i < 60; ++i) {
        threadStep();
    }
    keyDown[VK_UP] = false;
    const double x = simMoto->position.x;
    const int32_t steps = stepCount.load();
    keyDown[VK_ESCAPE] = true;
    ASSERT_EQ(frame(GameRunning), GamePaused);
    keyDown[VK_ESCAPE] = false;

    TestTrack edited;
    edited.finishX = 400.0;
    edited.startX = 100.0;
    ASSERT_TRUE(writeTestTrack(path, edited));
    // W asks (a second W when a record ghost of an earlier test was shown).
    for (int press = 0; press < 2 && hubLines() != std::vector<std::string>{"World record: fetching..."}; ++press) {
        keyDown['W'] = true;
        ASSERT_EQ(frame(GamePaused), GamePaused);
    }
    ASSERT_EQ(hubLines(), std::vector<std::string>{"World record: fetching..."});
    std::chrono::nanoseconds slowest{};
    const auto lines = framesUntilAnswered(GamePaused, "World record: fetching...", slowest);
    EXPECT_EQ(lines, std::vector<std::string>{"record refused: the track file has changed"});
    EXPECT_EQ(simMoto->position.x, x);
    EXPECT_EQ(stepCount.load(), steps);
    EXPECT_FALSE(recordGhostReady(record.digest));
}

// A run the hub never took is given up, and the next panel says so once.
TEST_F(GameHubTest, ARunGivenUpIsToldOnceOnAPanel)
{
    StubHub hub([](const StubRequest&) {
        StubAnswer busy;
        busy.status = 503;
        busy.body = "{}";
        return busy;
    });
    std::atomic<int64_t> clock{1'800'000'000};
    hubSetClock([&] { return clock.load(); });
    startHub(hub.url());
    ASSERT_EQ(ride(), GameFinished);
    for (size_t tries = 1; tries < static_cast<size_t>(kMaxSendTries); ++tries) {
        const auto until = std::chrono::steady_clock::now() + 8s;
        while (hub.requests().size() < tries && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(2ms);
        }
        ASSERT_EQ(hub.requests().size(), tries);
        std::this_thread::sleep_for(20ms);   // the try is counted
        clock += 3600;
        hubWake();
    }
    // The line and the notice change together but are read apart: the
    // panel is looked at until it settles.
    const std::vector<std::string> told{"World: run on track.vlt not sent: the hub did not take it in 30 tries"};
    const auto end = std::chrono::steady_clock::now() + 8s;
    std::vector<std::string> lines;
    while (std::chrono::steady_clock::now() < end) {
        frame(GameFinished);
        lines = hubLines();
        if (lines == told) {
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    hubSetClock(nullptr);
    EXPECT_EQ(lines, told);
    // Told once: the next run's panel has no such line.
    keyDown[VK_RETURN] = true;
    ASSERT_EQ(frame(GameFinished), GameRestart);
    keyDown[VK_RETURN] = false;
    ASSERT_TRUE(restartRun());
    keyDown[VK_ESCAPE] = true;
    ASSERT_EQ(frame(GameRunning), GamePaused);
    keyDown[VK_ESCAPE] = false;
    EXPECT_TRUE(hubLines().empty());
}

// A track cut while the list is open: Enter says it cannot be read, and the
// list stays.
TEST_F(GameHubTest, EnterOnATrackCutWhileTheListIsOpenSaysSoAndTheListStays)
{
    openTrackListView(path);
    listTexts.clear();
    trackListFrame(800.0, 600.0, keepText, false);
    ASSERT_TRUE(std::filesystem::exists(path));
    std::filesystem::resize_file(path, 20);
    keyDown[VK_RETURN] = true;
    listTexts.clear();
    EXPECT_EQ(trackListFrame(800.0, 600.0, keepText, false), ListAction::Stay);
    EXPECT_TRUE(listShows("track cannot be read"));
    closeTrackListView();
}

// Names are UTF-8: drawn with the font's characters, cut by whole
// characters, and nothing beside the list runs past the window's right edge
// at 800x600 (with the monospaced font's advance of 0.6 em).
TEST_F(GameHubTest, NamesAreDrawnAsUtf8AndTheListStaysInsideTheWindow)
{
    EXPECT_EQ(fontCodes("caf\xC3\xA9"), "caf\xE9");
    EXPECT_EQ(fontCodes("a\xE2\x80\x94" "b \x97"), "a\x97" "b \x97");
    EXPECT_EQ(fontCodes("\xE6\x97\xA5" "x\xC3"), "?x\xC3");
    EXPECT_EQ(firstCharacters("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9");

    float saved[256];
    std::copy(std::begin(glyphAdvance), std::end(glyphAdvance), saved);
    std::fill(std::begin(glyphAdvance), std::end(glyphAdvance), 0.6f);
    std::string longName;
    for (int i = 0; i < 25; ++i) {
        longName += "\xC3\xA9";
    }
    const std::string named = (dir / (longName + ".vlt")).string();
    std::filesystem::copy_file(path, named);
    StubHub hub([](const StubRequest&) {
        StubAnswer answer;
        answer.status = 403;
        answer.body = "{}";
        return answer;
    });
    startHub(hub.url());
    openTrackListView(named);
    const auto end = std::chrono::steady_clock::now() + 5s;
    do {
        listTexts.clear();
        listRights.clear();
        trackListFrame(800.0, 600.0, keepText, false);
        std::this_thread::sleep_for(5ms);
    } while (std::chrono::steady_clock::now() < end &&
             std::none_of(listTexts.begin(), listTexts.end(),
                          [](const std::string& t) { return t.rfind("world: hub", 0) == 0; }));
    closeTrackListView();
    std::copy(std::begin(saved), std::end(saved), glyphAdvance);
    // Cut to its column, with the ellipsis in the last place.
    EXPECT_TRUE(listShows(firstCharacters(longName, 19) + "\u2026"));
    bool sawWorld = false;
    for (size_t i = 0; i < listTexts.size(); ++i) {
        sawWorld = sawWorld || listTexts[i].rfind("world", 0) == 0;
        EXPECT_LE(listRights[i], 400.0) << listTexts[i];
    }
    EXPECT_TRUE(sawWorld);
}

// The hub tab asks nothing before the player joins, asks for the page in
// the order and filter chosen while it is open, and nothing once the list
// has closed.
TEST_F(GameHubTest, TheHubTabAsksTheHubOnlyWhileItIsOpenAndInTheOrderChosen)
{
    uint64_t digest = 0;
    ASSERT_TRUE(trackDigest(path, digest));
    StubHub hub([&](const StubRequest& request) {
        StubAnswer answer;
        if (request.target.rfind("/api/tracks?sort=", 0) == 0) {
            answer.body = R"([{"digest":")" + digestHex(digest) +
                          R"(","name":"Far Away.vlt","author":"Ann","created":"2020-01-01T00:00:00Z","finishers":3,)"
                          R"("record_steps":2135,"record_holder":"Ann","likes":7,"updated":true,"par_steps":2200}])";
            answer.headers = {"X-Total-Count: 31"};
        } else if (request.target.find("/times") != std::string::npos) {
            answer.body = R"([{"rank":1,"player":"Ann","steps":2135},{"rank":4,"player":"Bob","steps":2500}])";
        } else {
            answer.status = 404;
            answer.body = "{}";
        }
        return answer;
    });
    const HubFiles files{dir.string()};
    hubSetHome(files);
    const auto frames = [&](int count) {
        for (int i = 0; i < count; ++i) {
            listTexts.clear();
            trackListFrame(800.0, 600.0, keepText, false);
            std::this_thread::sleep_for(5ms);
        }
    };
    const auto until = [&](const std::string& text) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        do {
            frames(1);
        } while (!listShows(text) && std::chrono::steady_clock::now() < end);
        return listShows(text);
    };
    openTrackListView(path);
    keyDown[VK_TAB] = true;
    frames(20);
    EXPECT_TRUE(listShows("You are not on a hub: nothing is asked of one until you join."));
    EXPECT_TRUE(hub.requests().empty());
    closeTrackListView();

    startHub(hub.url());
    openTrackListView(path);
    keyDown[VK_TAB] = true;
    ASSERT_TRUE(until("Far Away.vlt"));
    EXPECT_TRUE(until("4th"));
    EXPECT_TRUE(listShows("sorted newest   page 1 of 4   31 tracks"));
    EXPECT_TRUE(listShows("updated")) << "neither new (2020) nor downloaded (no hub-tracks/ yet)";
    keyDown['S'] = true;
    ASSERT_TRUE(until("sorted most finishers   page 1 of 4   31 tracks"));
    keyDown['F'] = true;
    ASSERT_TRUE(until("sorted most finishers   not finished by me   page 1 of 4   31 tracks"));
    keyDown[VK_NEXT] = true;
    ASSERT_TRUE(until("sorted most finishers   not finished by me   page 2 of 4   31 tracks"));
    closeTrackListView();
    browseStop();
    std::vector<std::string> pages;
    for (const StubRequest& request : hub.requests()) {
        if (request.target.rfind("/api/tracks?sort=", 0) == 0) {
            pages.push_back(request.target);
        }
    }
    EXPECT_EQ(pages, (std::vector<std::string>{"/api/tracks?sort=newest&page=1&limit=10",
                                               "/api/tracks?sort=finishers&page=1&limit=10",
                                               "/api/tracks?sort=finishers&page=1&limit=10&unfinished_by=Bob",
                                               "/api/tracks?sort=finishers&page=2&limit=10&unfinished_by=Bob"}));
    const size_t seen = hub.requests().size();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(hub.requests().size(), seen) << "nothing is asked once the list has closed";
    hubSetHome(HubFiles{});
}
