// The frame state machine, the overlay texts, best times and the world set-up,
// run without a window: gameFrame draws nothing and logs its texts.
#include "GameTestSupport.h"

#include "game/Coach.h"
#include "game/Game.h"
#include "game/GameGhost.h"
#include "game/GameReplay.h"
#include "game/GameSound.h"
#include "game/GameWindow.h"
#include "game/HudNotes.h"
#include "game/PanelLines.h"
#include "game/TrackListView.h"
#include "model/ParTimes.h"
#include "gfx/Text.h"
#include "model/Globals.h"
#include "model/RunTime.h"
#include "model/TrackFile.h"
#include "physics/World.h"
#include "platform/MessageBox.h"
#include "platform/PerfCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <unistd.h>

namespace {

class GameFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        path = (dir / "track.vlt").string();
        ASSERT_TRUE(writeTestTrack(path, track));
        trackPath = path;
        gameMode = true;
        showFPS = false;
        firstHintPending = false;
        modeWidth = 800;
        modeHeight = 600;
        ASSERT_TRUE(queryPerformanceFrequency(perfFrequency));
        stepTicks = std::llround(static_cast<double>(perfFrequency) * 0.01);
        ASSERT_TRUE(setupWorld());
        clearHudNotes();
        clearKeys();
        windowActive = true;
        frameDrawing = false;
        frameSceneDrawer = nullptr;
        frameTextLog = &log;
        stepResult = 0;
        physicsEnabled = false;
        restartStepClock();
        clearPanelLines();
    }

    void TearDown() override
    {
        freeWorld();
        frameDrawing = true;
        frameSceneDrawer = drawScene;
        frameTextLog = nullptr;
        windowActive = false;
        testRideActive = false;
        stopWatching();
        clearKeys();
        showFPS = false;
        std::filesystem::remove_all(dir);
    }

    int32_t frame(int32_t state)
    {
        log.clear();
        return gameFrame(state);
    }

    const OverlayText* find(const std::string& text) const
    {
        for (const auto& item : log) {
            if (item.text == text) {
                return &item;
            }
        }
        return nullptr;
    }

    std::vector<std::string> texts() const
    {
        std::vector<std::string> result;
        for (const auto& item : log) {
            result.push_back(item.text);
        }
        return result;
    }

    TestTrack track;
    std::filesystem::path dir;
    std::string path;
    std::vector<OverlayText> log;
};

void expectColour(const OverlayText* item, float r, float g, float b, float a)
{
    ASSERT_NE(item, nullptr);
    EXPECT_FLOAT_EQ(item->r, r);
    EXPECT_FLOAT_EQ(item->g, g);
    EXPECT_FLOAT_EQ(item->b, b);
    EXPECT_FLOAT_EQ(item->a, a);
}

} // namespace

TEST_F(GameFrameTest, RunningTakesTheLatestStepResultAndLetsThePhysicsGoOn)
{
    EXPECT_EQ(frame(GameRunning), GameRunning);
    EXPECT_TRUE(physicsEnabled);

    physicsEnabled = false;
    stepResult = StepFinished;
    EXPECT_EQ(frame(GameRunning), GameFinished);
    EXPECT_FALSE(physicsEnabled);

    stepResult = StepCrashed;
    EXPECT_EQ(frame(GameRunning), GameCrashed);
    EXPECT_FALSE(physicsEnabled);
}

TEST_F(GameFrameTest, InactiveWindowPausesOnlyARunningGameAndDrawsNothing)
{
    windowActive = false;
    physicsEnabled = true;
    clockWaiting = false;
    keyDown[VK_UP] = true;
    EXPECT_EQ(frame(GameRunning), GamePaused);
    EXPECT_FALSE(physicsEnabled);
    EXPECT_FALSE(keyDown[VK_UP]);
    EXPECT_TRUE(clockWaiting);
    EXPECT_TRUE(log.empty());

    for (int32_t state : {GameFinished, GameCrashed, GamePaused}) {
        keyDown[VK_ESCAPE] = true;   // keys are not read while inactive
        EXPECT_EQ(frame(state), state);
        EXPECT_TRUE(log.empty());
    }
}

TEST_F(GameFrameTest, EscPausesAndReleasesEveryKeySoQuittingNeedsAFreshPress)
{
    physicsEnabled = true;
    keyDown[VK_ESCAPE] = true;
    keyDown[VK_LEFT] = true;
    EXPECT_EQ(frame(GameRunning), GamePaused);
    EXPECT_FALSE(physicsEnabled);
    EXPECT_TRUE(clockWaiting);
    EXPECT_TRUE(std::none_of(std::begin(keyDown), std::end(keyDown), [](const auto& k) { return k.load(); }));

    EXPECT_EQ(frame(GamePaused), GamePaused);
    keyDown[VK_ESCAPE] = true;   // the key repeat of a still held Esc
    EXPECT_EQ(frame(GamePaused), GameQuit);
}

TEST_F(GameFrameTest, PausedKeysRestartOrResumeHalfASecondLaterAndEscWins)
{
    const int64_t half = std::llround(static_cast<double>(perfFrequency) * 0.5);

    keyDown[VK_RETURN] = true;
    int64_t before = queryPerformanceCounter();
    EXPECT_EQ(frame(GamePaused), GameRestart);
    int64_t after = queryPerformanceCounter();
    EXPECT_FALSE(keyDown[VK_RETURN]);
    EXPECT_GE(nextStepTime.load(), before + half);
    EXPECT_LE(nextStepTime.load(), after + half);

    keyDown[VK_SPACE] = true;
    before = queryPerformanceCounter();
    EXPECT_EQ(frame(GamePaused), GameRunning);
    after = queryPerformanceCounter();
    EXPECT_FALSE(keyDown[VK_SPACE]);
    EXPECT_GE(nextStepTime.load(), before + half);
    EXPECT_LE(nextStepTime.load(), after + half);

    keyDown[VK_ESCAPE] = true;
    keyDown[VK_RETURN] = true;
    keyDown[VK_SPACE] = true;
    EXPECT_EQ(frame(GamePaused), GameQuit);
}

TEST_F(GameFrameTest, EndPanelKeysRestartOrQuitAndSpaceDoesNothing)
{
    for (int32_t state : {GameFinished, GameCrashed}) {
        stepResult = state;
        clearKeys();
        keyDown[VK_SPACE] = true;
        EXPECT_EQ(frame(state), state);
        keyDown[VK_ESCAPE] = true;
        EXPECT_EQ(frame(state), GameQuit);
        keyDown[VK_RETURN] = true;   // Enter is read first
        EXPECT_EQ(frame(state), GameRestart);
        EXPECT_EQ(stepResult.load(), StepRunning);
    }
}

TEST_F(GameFrameTest, AFinishInTheFrameOfAnEscPressEndsTheRunWithoutAPause)
{
    stepResult = StepFinished;
    keyDown[VK_ESCAPE] = true;
    EXPECT_EQ(frame(GameRunning), GameFinished);
    EXPECT_EQ(find("Paused"), nullptr);
    EXPECT_EQ(frame(GameFinished), GameQuit);

    // A finish just after the frame read the result, in the frame that Esc
    // pauses: Enter starts a fresh run, not one that ends at once with a
    // best time of 00:00:00.
    ASSERT_TRUE(rewriteBestTime(path, -1.0));
    stepResult = StepRunning;
    keyDown[VK_ESCAPE] = true;
    EXPECT_EQ(frame(GameRunning), GamePaused);
    stepResult = StepFinished;
    keyDown[VK_RETURN] = true;
    EXPECT_EQ(frame(GamePaused), GameRestart);
    ASSERT_TRUE(restartRun());
    EXPECT_EQ(frame(GameRunning), GameRunning);
    EXPECT_EQ(storedBestTime(path), -1.0);
}

TEST_F(GameFrameTest, ClockIsRedWhileWaitingThenGreenAndWhiteOnThePanels)
{
    const double w = 800.0;
    const double h = 600.0;
    stepCount = 6725;
    clockWaiting = true;
    frame(GameRunning);
    const OverlayText* clock = find("01:07:25");
    expectColour(clock, 1.0f, 0.0f, 0.0f, 0.7f);
    EXPECT_DOUBLE_EQ(clock->x, w / 2 - 90);
    EXPECT_DOUBLE_EQ(clock->y, h / 2 - 20);
    EXPECT_DOUBLE_EQ(clock->scale, 20.0);
    EXPECT_FALSE(clock->centred);

    clockWaiting = false;
    frame(GameRunning);
    expectColour(find("01:07:25"), 0.0f, 1.0f, 0.0f, 0.7f);

    for (int32_t state : {GameFinished, GameCrashed, GamePaused}) {
        stepResult = state == GamePaused ? StepRunning : state;
        frame(state);
        expectColour(find("01:07:25"), 1.0f, 1.0f, 1.0f, 0.5f);
    }
}

TEST_F(GameFrameTest, PanelsShowTheirLinesInPlace)
{
    frame(GamePaused);
    EXPECT_EQ(texts(), (std::vector<std::string>{"00:00:00", "", "Paused", "Esc  -  exit", "Enter - restart",
                                                 "Space - resume", "", "N - next track   T - track list"}));
    expectColour(find("Paused"), 0.1f, 0.1f, 0.8f, 0.7f);
    EXPECT_DOUBLE_EQ(find("Paused")->y, 20.0);
    EXPECT_DOUBLE_EQ(find("Paused")->scale, 30.0);
    EXPECT_TRUE(find("Paused")->centred);
    EXPECT_DOUBLE_EQ(find("Esc  -  exit")->y, -10.0);
    EXPECT_DOUBLE_EQ(find("Enter - restart")->y, -30.0);
    EXPECT_DOUBLE_EQ(find("Space - resume")->y, -50.0);
    expectColour(find("Space - resume"), 0.0f, 0.0f, 0.0f, 0.7f);
    expectColour(find(""), 1.0f, 1.0f, 1.0f, 0.5f);
    // The keys stand on a dark band of their own, drawn after everything.
    EXPECT_EQ(log[log.size() - 2].text, "");
    EXPECT_FLOAT_EQ(log[log.size() - 2].a, 0.7f);
    EXPECT_GE(log[log.size() - 2].y, find("N - next track   T - track list")->y + 16.0);

    bestTime = runTimeOfSteps(100);   // a finish slower than the best
    stepCount = 200;
    stepResult = StepCrashed;
    frame(GameCrashed);
    EXPECT_EQ(texts(), (std::vector<std::string>{bestTimeText, "00:02:00", "", "Game over", "Esc  -  exit",
                                                 "Enter - restart", "", "R - replay   G - ghost",
                                                 "N - next track   T - track list"}));
    expectColour(find("Game over"), 0.8f, 0.1f, 0.1f, 0.7f);
    // The keys of replays and the ghost stand under the panel, not in it.
    ASSERT_NE(find("R - replay   G - ghost"), nullptr);
    EXPECT_LT(find("R - replay   G - ghost")->y + 16.0, -70.0);

    stepResult = StepFinished;
    frame(GameFinished);
    expectColour(find("Finished"), 0.1f, 0.6f, 0.1f, 0.7f);
    EXPECT_EQ(find("Best time!"), nullptr);
}

TEST_F(GameFrameTest, AddedLinesStandUnderThePanelsUntilARunStarts)
{
    setPanelLine("a", "first");
    setPanelLine("b", "second");
    setPanelLine("a", "first again");   // in place
    stepResult = StepCrashed;
    frame(GameCrashed);
    const std::vector<std::string> shown = texts();
    ASSERT_GE(shown.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(shown.end() - 5, shown.end()),
              (std::vector<std::string>{"", "R - replay   G - ghost", "N - next track   T - track list",
                                        "first again", "second"}));
    ASSERT_NE(find("first again"), nullptr);
    EXPECT_LT(find("first again")->y + 16.0, find("N - next track   T - track list")->y);
    EXPECT_DOUBLE_EQ(find("second")->y, find("first again")->y - 20.0);
    frame(GamePaused);
    EXPECT_LT(find("first again")->y + 16.0, find("Space - resume")->y);

    // News for this panel lands while it stands; once a run starts, the
    // lines are gone and late news for the old panel is dropped.
    const uint64_t panel = panelGeneration();
    EXPECT_TRUE(setPanelLineFor(panel, "b", ""));
    EXPECT_EQ(panelLines(), (std::vector<std::string>{"first again"}));
    keyDown[VK_SPACE] = true;
    EXPECT_EQ(frame(GamePaused), GameRunning);
    EXPECT_TRUE(panelLines().empty());
    EXPECT_FALSE(setPanelLineFor(panel, "c", "late"));
    setPanelLine("a", "again");
    keyDown[VK_RETURN] = true;
    EXPECT_EQ(frame(GameCrashed), GameRestart);
    EXPECT_TRUE(panelLines().empty());
}

TEST_F(GameFrameTest, BestTimeAndFrameRateSitInTheirCorners)
{
    frame(GameRunning);
    EXPECT_EQ(texts(), (std::vector<std::string>{"00:00:00"}));   // no best time yet, no frame rate

    bestTime = runTimeOfSteps(4321);
    bestTimeText = formatRunTime(bestTime);
    showFPS = true;
    usleep(2000);
    frame(GameRunning);
    ASSERT_EQ(log.size(), 3u);
    const OverlayText& fps = log[0];
    EXPECT_DOUBLE_EQ(fps.x, -400.0 + 5.0);
    EXPECT_DOUBLE_EQ(fps.y, -300.0 + 20.0);
    expectColour(&fps, 1.0f, 1.0f, 1.0f, 0.5f);
    // The average starts at 0 and takes a tenth of the first frame's rate.
    EXPECT_GT(fpsAverage, 0.0);
    EXPECT_LT(fpsAverage, 60.0);
    EXPECT_EQ(fps.text, std::to_string(std::llround(fpsAverage)));
    const OverlayText* best = find("00:43:21");
    ASSERT_NE(best, nullptr);
    EXPECT_DOUBLE_EQ(best->x, -400.0 + 5.0);
    EXPECT_DOUBLE_EQ(best->y, 300.0 - 20.0);
}

TEST_F(GameFrameTest, FrameRateIgnoresAFrameWithinTheSameCounterTick)
{
    showFPS = true;
    fpsAverage = 42.0;
    lastFrameTime = queryPerformanceCounter() + perfFrequency;   // "now" is not past it
    frame(GameRunning);
    EXPECT_DOUBLE_EQ(fpsAverage, 42.0);
    EXPECT_EQ(log[0].text, "42");
}

TEST_F(GameFrameTest, RightHandTextsEndInsideTheWindow)
{
    // With the monospaced font's cells (0.6 em), the clock (8 cells at 20
    // pixels) and "Best time!" (10 cells at 30 pixels) are wider than the
    // room their usual places leave; they move left to end 5 pixels before
    // the right edge.
    const float saved = glyphAdvance['0'];
    std::fill(std::begin(glyphAdvance), std::begin(glyphAdvance) + 255, 0.6f);
    stepCount = 1234;
    stepResult = StepFinished;
    frame(GameRunning);
    const OverlayText* clock = find("00:12:34");
    const OverlayText* mark = find("Best time!");
    ASSERT_NE(clock, nullptr);
    ASSERT_NE(mark, nullptr);
    EXPECT_NEAR(clock->x + 8 * 0.6 * 20, 400.0 - 5.0, 1e-4);
    EXPECT_NEAR(mark->x + 10 * 0.6 * 30, 400.0 - 5.0, 1e-4);
    std::fill(std::begin(glyphAdvance), std::end(glyphAdvance), 0.0f);
    EXPECT_EQ(saved, 0.0f);   // no font is built in these tests
}

TEST_F(GameFrameTest, FirstFinishWritesTheBestTimeOnceAndShowsItUntilLeft)
{
    stepCount = 1234;
    stepResult = StepFinished;
    EXPECT_EQ(frame(GameRunning), GameFinished);
    EXPECT_EQ(storedBestTime(path), runTimeOfSteps(1234));
    const OverlayText* mark = find("Best time!");
    expectColour(mark, 1.0f, 0.0f, 0.0f, 0.7f);
    EXPECT_DOUBLE_EQ(mark->x, 400.0 - 160.0);
    EXPECT_DOUBLE_EQ(mark->y, 300.0 - 50.0);
    EXPECT_DOUBLE_EQ(mark->scale, 30.0);
    EXPECT_EQ(bestTime, -1.0);   // memory keeps the old value until the restart
    // The run's replay stands beside the track, naming it by its digest.
    Replay best;
    std::string error;
    ASSERT_EQ(readReplayFile((dir / "track.replay").string(), best, error), ReplayReadError::None) << error;
    uint64_t digest = 0;
    ASSERT_TRUE(trackDigest(path, digest));
    EXPECT_EQ(best.digest, digest);
    EXPECT_EQ(best.trackName, "track.vlt");
    EXPECT_EQ(best.steps, 1234);
    EXPECT_EQ(best.result, ReplayFinished);

    ASSERT_TRUE(rewriteBestTime(path, 7.0));
    EXPECT_EQ(frame(GameFinished), GameFinished);
    EXPECT_NE(find("Best time!"), nullptr);
    EXPECT_EQ(storedBestTime(path), 7.0);   // written once only

    // The restart reads the new best time, which then shows top left.
    ASSERT_TRUE(rewriteBestTime(path, runTimeOfSteps(1234)));
    keyDown[VK_RETURN] = true;
    EXPECT_EQ(frame(GameFinished), GameRestart);
    ASSERT_TRUE(restartRun());
    EXPECT_EQ(stepCount.load(), 0);
    EXPECT_TRUE(clockWaiting);
    frame(GameRunning);
    EXPECT_NE(find("00:12:34"), nullptr);
}

TEST_F(GameFrameTest, AnEqualOrSlowerFinishIsNoBestTimeAFasterOneIsWrittenDrawnOrNot)
{
    bestTime = runTimeOfSteps(500);
    ASSERT_TRUE(rewriteBestTime(path, bestTime));
    for (int steps : {500, 501}) {
        stepCount = steps;
        stepResult = StepFinished;
        EXPECT_EQ(frame(GameRunning), GameFinished);
        EXPECT_EQ(find("Best time!"), nullptr);
        EXPECT_EQ(storedBestTime(path), runTimeOfSteps(500));
    }
    // The first frame that sees a faster finish writes it even when it
    // finds the window inactive and draws nothing; later frames show it.
    stepCount = 499;
    windowActive = false;
    EXPECT_EQ(frame(GameRunning), GameFinished);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(storedBestTime(path), runTimeOfSteps(499));
    windowActive = true;
    frame(GameFinished);
    EXPECT_NE(find("Best time!"), nullptr);
}

TEST_F(GameFrameTest, ABestTimeAndReplayThatCannotBeWrittenAreToldOnceAndTheGameGoesOn)
{
    MessageRecorder recorder;
    std::filesystem::remove(path);
    std::filesystem::create_directory(dir / "track.replay");   // no file can take its place
    stepCount = 321;
    stepResult = StepFinished;
    EXPECT_EQ(frame(GameRunning), GameFinished);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].caption, "Error");
    EXPECT_EQ(recorder.messages[0].flags, static_cast<unsigned>(MB_ICONEXCLAMATION));
    EXPECT_EQ(panelLines(), std::vector<std::string>{"The replay could not be written beside the track file."});
    EXPECT_NE(find("Best time!"), nullptr);
    EXPECT_EQ(frame(GameFinished), GameFinished);
    EXPECT_NE(find("Finished"), nullptr);
    EXPECT_NE(find("Best time!"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(path));   // nothing created in its place

    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);

    keyDown[VK_ESCAPE] = true;
    EXPECT_EQ(frame(GameFinished), GameQuit);
    EXPECT_EQ(recorder.messages.size(), 1u);
}

// What the physics thread does for one step.
void threadStep()
{
    clockWaiting = false;
    const int32_t r = stepRun();
    stepCount.fetch_add(1);
    stepResult = r;
}

TEST_F(GameFrameTest, WatchingRidesTheRecordedKeysPausesAndEndsOnAPanelSayingWhatWasWatched)
{
    MessageRecorder messages;
    keyDown[VK_UP] = true;
    for (int i = 0; i < 40; ++i) {
        threadStep();
    }
    keyDown[VK_UP] = false;
    const double riddenX = simMoto->position.x;
    stepResult = StepCrashed;
    ASSERT_EQ(frame(GameRunning), GameCrashed);

    keyDown['R'] = true;
    ASSERT_EQ(frame(GameCrashed), GameWatching);
    EXPECT_FALSE(keyDown['R']);
    EXPECT_EQ(stepCount.load(), 0);   // the world was rebuilt
    EXPECT_EQ(frame(GameWatching), GameWatching);
    EXPECT_TRUE(physicsEnabled);
    EXPECT_NE(find("Replay"), nullptr);
    EXPECT_EQ(find("Game over"), nullptr);
    for (int i = 0; i < 20; ++i) {
        threadStep();   // the replay holds Up, the keyboard nothing
    }
    ASSERT_EQ(runRecorder.changes().size(), 1u);
    EXPECT_EQ(runRecorder.changes()[0].keys, KeyUp);

    keyDown[VK_SPACE] = true;
    EXPECT_EQ(frame(GameWatching), GameWatchPaused);
    EXPECT_FALSE(physicsEnabled);
    EXPECT_EQ(frame(GameWatchPaused), GameWatchPaused);
    EXPECT_NE(find("Replay - paused"), nullptr);
    keyDown[VK_SPACE] = true;
    EXPECT_EQ(frame(GameWatchPaused), GameWatching);
    keyDown[VK_ESCAPE] = true;
    EXPECT_EQ(frame(GameWatching), GameWatched);
    EXPECT_EQ(frame(GameWatched), GameWatched);   // Esc was let go, no quit
    EXPECT_EQ(find("Game over"), nullptr);
    EXPECT_NE(find("You watched your run: crashed at 00:00:40"), nullptr);

    // Watched to its end: the same ride, then the end panel again. Nothing
    // is written: no best time, no replay.
    keyDown['R'] = true;
    ASSERT_EQ(frame(GameCrashed), GameWatching);
    for (int i = 0; i < 40; ++i) {
        threadStep();
    }
    EXPECT_EQ(simMoto->position.x, riddenX);
    EXPECT_EQ(frame(GameWatching), GameWatched);
    stepResult = StepFinished;
    keyDown['R'] = true;
    ASSERT_EQ(frame(GameFinished), GameWatching);
    for (int i = 0; i < 40; ++i) {
        threadStep();
    }
    stepResult = StepFinished;
    EXPECT_EQ(frame(GameWatching), GameWatched);
    EXPECT_EQ(storedBestTime(path), -1.0);
    EXPECT_FALSE(std::filesystem::exists(dir / "track.replay"));
    EXPECT_TRUE(messages.messages.empty());

    // B: no best run yet, a damaged one, one of another version of the
    // track; each said in a line under the panel, no box over the game.
    const std::string best = (dir / "track.replay").string();
    Replay other = lastRunReplay();
    other.digest ^= 1;
    for (const auto& [content, text] :
         {std::pair{std::string(), "This track has no best run to watch yet."},
          std::pair{std::string("# velto replay 1\n# track: track.vlt\n# digest: 12"), "The replay can't be read."},
          std::pair{formatReplay(other), "The replay is for another version of the track."}}) {
        if (!content.empty()) {
            std::ofstream(best, std::ios::binary) << content;
        }
        keyDown['B'] = true;
        EXPECT_EQ(frame(GameFinished), GameFinished);
        EXPECT_EQ(panelLines(), std::vector<std::string>{text});
        frame(GameFinished);
        EXPECT_NE(find(text), nullptr);
    }
    EXPECT_TRUE(messages.messages.empty());
    // Enter from watching starts a new run with the keyboard.
    std::ofstream(best, std::ios::binary) << formatReplay(lastRunReplay());
    keyDown['B'] = true;
    ASSERT_EQ(frame(GameFinished), GameWatching);
    EXPECT_TRUE(panelLines().empty());
    keyDown[VK_RETURN] = true;
    EXPECT_EQ(frame(GameWatching), GameRestart);
    EXPECT_FALSE(replayDriving);
}

TEST_F(GameFrameTest, ReplaysAreNotWatchedOnATrackThatChangedSinceTheyWereRidden)
{
    keyDown[VK_UP] = true;
    for (int i = 0; i < 150; ++i) {
        threadStep();
    }
    keyDown[VK_UP] = false;
    const double endX = simMoto->position.x;
    stepResult = StepFinished;
    ASSERT_EQ(frame(GameRunning), GameFinished);   // kept as the best run
    ASSERT_TRUE(std::filesystem::exists(dir / "track.replay"));

    // The editor in another window rewrites the track with a small bump.
    TestTrack bumped = track;
    bumped.polygons.push_back({{130.0, -1.0}, {150.0, 4.0}, {170.0, -1.0}});
    ASSERT_TRUE(writeTestTrack(path, bumped));
    for (const auto& [key, text] : {std::pair{int{'B'}, "The replay is for another version of the track."},
                                    std::pair{int{'R'}, "The track has changed since this run was ridden."}}) {
        keyDown[key] = true;
        EXPECT_EQ(frame(GameFinished), GameFinished) << key;
        EXPECT_EQ(panelLines(), std::vector<std::string>{text});
        EXPECT_EQ(simMoto->position.x, endX);   // the ridden world stays
        EXPECT_EQ(stepCount.load(), 150);
    }
    EXPECT_FALSE(replayDriving);
}

TEST_F(GameFrameTest, TheEndPanelOffersTheBestRunOnlyWhenTheTrackHasOne)
{
    const std::string all = "R - replay   B - best run   G - ghost";
    stepCount = 300;
    stepResult = StepCrashed;
    EXPECT_EQ(frame(GameRunning), GameCrashed);
    frame(GameCrashed);
    EXPECT_NE(find("R - replay   G - ghost"), nullptr);
    EXPECT_EQ(find(all), nullptr);
    stepResult = StepFinished;
    EXPECT_EQ(frame(GameRunning), GameFinished);   // the first best run is written
    frame(GameFinished);
    EXPECT_NE(find(all), nullptr);
    ASSERT_TRUE(restartRun());
    stepResult = StepCrashed;
    frame(GameCrashed);
    EXPECT_NE(find(all), nullptr);
}

TEST_F(GameFrameTest, TheGhostRidesTheBestRunAndLeavesThePlayersRideAlone)
{
    track.finishX = 400.0;
    ASSERT_TRUE(writeTestTrack(path, track));
    ASSERT_TRUE(restartRun());
    EXPECT_FALSE(ghostReady());

    // Throttle to the finish, twice: without a ghost, then with the first
    // ride as the ghost. The player's ride is the same bit for bit.
    std::vector<std::vector<double>> rides[2];
    for (auto& ride : rides) {
        keyDown[VK_UP] = true;
        while (stepResult.load() == StepRunning && stepCount.load() < 3000) {
            threadStep();
            ride.push_back({simMoto->position.x, simMoto->position.y, simMoto->angle,
                            simMoto->frontWheel->position.x, simMoto->rearWheel->angle, simMoto->head->position.y});
        }
        keyDown[VK_UP] = false;
        ASSERT_EQ(frame(GameRunning), GameFinished);
        ASSERT_TRUE(restartRun());
        ASSERT_TRUE(ghostReady());
    }
    EXPECT_EQ(rides[0], rides[1]);
    const GhostPath& ghost = ghostPath();
    ASSERT_EQ(ghost.poses.size(), rides[0].size() + 1);
    EXPECT_EQ(ghost.result, StepFinished);
    EXPECT_FLOAT_EQ(ghost.poses[1].frameX, static_cast<float>(rides[0][0][0]));
    EXPECT_FLOAT_EQ(ghost.poses.back().frontX, static_cast<float>(rides[0].back()[3]));
    EXPECT_FLOAT_EQ(ghost.poses.back().headY, static_cast<float>(rides[0].back()[5]));

    keyDown['G'] = true;
    frame(GameRunning);
    EXPECT_FALSE(ghostShown);
    keyDown['G'] = true;
    frame(GameRunning);
    EXPECT_TRUE(ghostShown);

    // A damaged best run, or one of another version of the track: no ghost.
    Replay other = lastRunReplay();
    other.digest ^= 1;
    for (const std::string& content : {std::string("# velto replay 1\n\0\0", 20), formatReplay(other)}) {
        std::ofstream((dir / "track.replay").string(), std::ios::binary) << content;
        ASSERT_TRUE(restartRun());
        EXPECT_FALSE(ghostReady());
    }
}

TEST_F(GameFrameTest, ABestRunOfAnEarlierPhysicsIsToldApartAndTheNextBestRunReplacesIt)
{
    MessageRecorder messages;
    track.finishX = 400.0;
    ASSERT_TRUE(writeTestTrack(path, track));
    ASSERT_TRUE(restartRun());
    keyDown[VK_UP] = true;
    while (stepResult.load() == StepRunning && stepCount.load() < 3000) {
        threadStep();
    }
    keyDown[VK_UP] = false;
    ASSERT_EQ(frame(GameRunning), GameFinished);
    const double best = storedBestTime(path);
    ASSERT_GT(best, 0.0);

    // The same run as the earlier physics wrote it: version 1, no closing line.
    const std::string replayPath = (dir / "track.replay").string();
    std::string earlier = formatReplay(lastRunReplay());
    earlier.replace(0, std::string("# velto replay 2").size(), "# velto replay 1");
    earlier.resize(earlier.size() - std::string("# end\n").size());
    std::ofstream(replayPath, std::ios::binary) << earlier;

    // No ghost, the best time kept, and B says why in a line, not in a box.
    ASSERT_TRUE(restartRun());
    EXPECT_FALSE(ghostReady());
    EXPECT_EQ(storedBestTime(path), best);
    keyDown[VK_UP] = true;
    while (stepResult.load() == StepRunning && stepCount.load() < 3000) {
        threadStep();
    }
    keyDown[VK_UP] = false;
    ASSERT_EQ(frame(GameRunning), GameFinished);
    keyDown['B'] = true;
    EXPECT_EQ(frame(GameFinished), GameFinished);
    // Under the finish's own line: the same keys ride the best time again.
    EXPECT_EQ(panelLines(), (std::vector<std::string>{
                                "0.00 s vs best", "The best run was recorded by an earlier physics and can't be watched."}));
    EXPECT_TRUE(messages.messages.empty());

    // The next best run writes its replay in the place of the old one.
    ASSERT_TRUE(rewriteBestTime(path, best * 2.0));
    ASSERT_TRUE(restartRun());
    keyDown[VK_UP] = true;
    while (stepResult.load() == StepRunning && stepCount.load() < 3000) {
        threadStep();
    }
    keyDown[VK_UP] = false;
    ASSERT_EQ(frame(GameRunning), GameFinished);
    EXPECT_EQ(storedBestTime(path), best);
    Replay written;
    std::string error;
    EXPECT_EQ(readReplayFile(replayPath, written, error), ReplayReadError::None) << error;
    ASSERT_TRUE(restartRun());
    EXPECT_TRUE(ghostReady());
}

TEST_F(GameFrameTest, RestartOnAnUnreadableTrackEndsWithTheMessage)
{
    MessageRecorder recorder;
    std::filesystem::remove(path);
    EXPECT_FALSE(restartRun());
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Cant't load the track.");
    EXPECT_EQ(recorder.messages[0].caption, "Error");
    EXPECT_EQ(recorder.messages[0].flags, static_cast<unsigned>(MB_ICONEXCLAMATION));
    EXPECT_EQ(simMoto, nullptr);
    freeWorld();   // as doneGame would: nothing is freed twice
}

TEST_F(GameFrameTest, SetupWorldPutsTheCameraAtTheStartAndTheViewBackToTheModeSize)
{
    viewWidth = 123;
    viewHeight = 45;
    cameraCentre = {};
    modeWidth = 640;
    modeHeight = 480;
    ASSERT_TRUE(restartRun());
    EXPECT_EQ(viewWidth.load(), 640);
    EXPECT_EQ(viewHeight.load(), 480);
    EXPECT_EQ(cameraCentre.x, track.startX);
    EXPECT_EQ(cameraCentre.y, track.startY);
    EXPECT_EQ(cameraLead.load(), -0.25);
}

namespace {

// Rides the fixture's track with Up held until the run ends.
int32_t throttleToTheEnd()
{
    keyDown[VK_UP] = true;
    while (stepResult.load() == StepRunning && stepCount.load() < 3000) {
        threadStep();
    }
    keyDown[VK_UP] = false;
    return stepResult.load();
}

HudClock::time_point fakeNow;
HudClock::time_point readFakeNow()
{
    return fakeNow;
}

} // namespace

TEST_F(GameFrameTest, DPlaysTheDemoWithItsKeysAndTheDemoIsTheGhostUntilABestRunOfOnesOwn)
{
    track.finishX = 400.0;
    ASSERT_TRUE(writeTestTrack(path, track));
    ASSERT_TRUE(restartRun());
    ASSERT_EQ(throttleToTheEnd(), StepFinished);
    const int32_t demoSteps = stepCount.load();
    ASSERT_EQ(frame(GameRunning), GameFinished);
    // The run becomes the track's demo; the player has no best run.
    ASSERT_TRUE(writeReplayFile((dir / "track.demo").string(), lastRunReplay()));
    std::filesystem::remove(dir / "track.replay");
    ASSERT_TRUE(restartRun());
    ASSERT_TRUE(ghostReady());
    EXPECT_TRUE(ghostIsDemo());
    EXPECT_STREQ(ghostName(), "Demo");

    frame(GamePaused);
    EXPECT_NE(find("N - next track   T - track list   D - demo"), nullptr);
    keyDown['D'] = true;
    ASSERT_EQ(frame(GamePaused), GameWatching);
    EXPECT_FALSE(coach.on());
    for (int i = 0; i < 10; ++i) {
        threadStep();
    }
    frame(GameWatching);
    EXPECT_NE(find("Demo"), nullptr);
    EXPECT_NE(find("The demo: how this track is ridden   Esc - stop   Enter - ride"), nullptr);
    EXPECT_NE(find("held \u2191"), nullptr);
    EXPECT_EQ(find("held \u2190"), nullptr);
    while (stepResult.load() == StepRunning && stepCount.load() < demoSteps) {
        threadStep();
    }
    EXPECT_EQ(frame(GameWatching), GameWatched);
    frame(GameWatched);
    EXPECT_NE(find("You watched the demo: finished in " + formatRunTime(runTimeOfSteps(demoSteps))), nullptr);
    EXPECT_NE(find("R - replay   D - demo   G - ghost"), nullptr);
    EXPECT_NE(find("Demo"), nullptr);
    EXPECT_EQ(find("Best time!"), nullptr);
    EXPECT_EQ(find("Finished"), nullptr);

    // A track changed since has no demo: not to watch, not as the ghost,
    // even where the change (a rock far off the way) leaves the ride as it was.
    TestTrack changed = track;
    changed.polygons.push_back({{2500.0, 300.0}, {2550.0, 300.0}, {2525.0, 350.0}});
    ASSERT_TRUE(writeTestTrack(path, changed));
    keyDown['D'] = true;
    EXPECT_EQ(frame(GameWatched), GameWatched);
    EXPECT_EQ(panelLines(), std::vector<std::string>{"This version of the track has no demo."});
    EXPECT_FALSE(replayDriving);
    ASSERT_TRUE(restartRun());
    EXPECT_FALSE(ghostReady());
    frame(GamePaused);
    EXPECT_NE(find("N - next track   T - track list"), nullptr) << "no D for a demo of another version";
    std::filesystem::remove(dir / "track.demo");
    keyDown['D'] = true;
    EXPECT_EQ(frame(GamePaused), GamePaused);
    EXPECT_EQ(panelLines(), std::vector<std::string>{"This track has no demo."});

    // Once the player has a best run, that is the ghost.
    ASSERT_TRUE(writeTestTrack(path, track));
    ASSERT_TRUE(writeReplayFile((dir / "track.demo").string(), lastRunReplay()));
    ASSERT_TRUE(writeReplayFile((dir / "track.replay").string(), lastRunReplay()));
    ASSERT_TRUE(restartRun());
    ASSERT_TRUE(ghostReady());
    EXPECT_FALSE(ghostIsDemo());
    EXPECT_STREQ(ghostName(), "Your best");
}

TEST_F(GameFrameTest, LeavingAReplayOfANewBestSaysWhatWasWatchedAndNeverBestTime)
{
    track.finishX = 400.0;
    ASSERT_TRUE(writeTestTrack(path, track));
    ASSERT_TRUE(restartRun());
    ASSERT_EQ(throttleToTheEnd(), StepFinished);
    const int32_t steps = stepCount.load();
    ASSERT_EQ(frame(GameRunning), GameFinished);
    frame(GameFinished);
    EXPECT_NE(find("Best time!"), nullptr);   // the run's own panel

    keyDown['R'] = true;
    ASSERT_EQ(frame(GameFinished), GameWatching);
    for (int i = 0; i < steps / 2; ++i) {
        threadStep();
    }
    keyDown[VK_ESCAPE] = true;
    ASSERT_EQ(frame(GameWatching), GameWatched);
    frame(GameWatched);
    EXPECT_EQ(find("Best time!"), nullptr);
    EXPECT_EQ(find("Finished"), nullptr);
    EXPECT_NE(find("Replay"), nullptr);
    EXPECT_NE(find("You watched your run: finished in " + formatRunTime(runTimeOfSteps(steps))), nullptr);
    keyDown[VK_RETURN] = true;
    EXPECT_EQ(frame(GameWatched), GameRestart);
}

TEST_F(GameFrameTest, ATestRideSaysSoKeepsNoBestTimeAndOffersOnlyWhatWorksThere)
{
    testRideActive = true;
    track.finishX = 400.0;
    ASSERT_TRUE(writeTestTrack(path, track));
    ASSERT_TRUE(restartRun());
    ASSERT_EQ(throttleToTheEnd(), StepFinished);
    ASSERT_EQ(frame(GameRunning), GameFinished);
    frame(GameFinished);
    EXPECT_EQ(find("Best time!"), nullptr);
    EXPECT_EQ(storedBestTime(path), -1.0);
    EXPECT_FALSE(std::filesystem::exists(dir / "track.replay"));
    EXPECT_NE(find("Test ride: Esc goes back to the editor"), nullptr);
    EXPECT_NE(find("R - replay"), nullptr);
    EXPECT_EQ(find("N - next track   T - track list"), nullptr);
    for (const int key : {'B', 'N', 'T', 'D'}) {
        keyDown[key] = true;
        EXPECT_EQ(frame(GameFinished), GameFinished) << static_cast<char>(key);
        keyDown[key] = false;
    }
    keyDown['R'] = true;
    EXPECT_EQ(frame(GameFinished), GameWatching);
    keyDown[VK_ESCAPE] = true;
    EXPECT_EQ(frame(GameWatching), GameWatched);
    frame(GameWatched);
    EXPECT_NE(find("R - replay"), nullptr);
    EXPECT_EQ(find("N - next track   T - track list"), nullptr);

    frame(GamePaused);
    EXPECT_NE(find("Test ride: Esc goes back to the editor"), nullptr);
    for (const int key : {'N', 'T', 'D'}) {
        keyDown[key] = true;
        EXPECT_EQ(frame(GamePaused), GamePaused) << static_cast<char>(key);
        keyDown[key] = false;
    }
    testRideActive = false;
}

TEST_F(GameFrameTest, TheTrackNameOpensEachRunAndGAndMSayWhatTheyDidForTwoSeconds)
{
    fakeNow = HudClock::now();
    hudNow = readFakeNow;
    ASSERT_TRUE(restartRun());
    fakeNow += std::chrono::seconds(5);   // no frame yet: the name waits for one
    frame(GameRunning);
    EXPECT_NE(find("track"), nullptr);
    fakeNow += std::chrono::milliseconds(1900);
    frame(GameRunning);
    EXPECT_NE(find("track"), nullptr);
    fakeNow += std::chrono::milliseconds(200);
    frame(GameRunning);
    EXPECT_EQ(find("track"), nullptr);

    keyDown['G'] = true;
    frame(GameRunning);
    EXPECT_NE(find("Ghost off"), nullptr);
    keyDown['G'] = true;
    frame(GamePaused);
    EXPECT_NE(find("Ghost on"), nullptr);
    EXPECT_EQ(find("Ghost off"), nullptr);
    toggleSound();
    frame(GamePaused);
    EXPECT_NE(find("Sound off"), nullptr);
    EXPECT_EQ(find("Ghost on"), nullptr);
    toggleSound();
    frame(GamePaused);
    EXPECT_NE(find("Sound on"), nullptr);
    fakeNow += std::chrono::milliseconds(2100);
    frame(GamePaused);
    EXPECT_EQ(find("Sound on"), nullptr);

    // The track list hides the run: no clock, no best time, no notes.
    bestTime = runTimeOfSteps(500);
    toggleSound();
    toggleSound();
    openTrackListView(path);
    frame(GameTrackList);
    EXPECT_EQ(find("00:00:00"), nullptr);
    EXPECT_EQ(find(bestTimeText), nullptr);
    EXPECT_EQ(find("Sound on"), nullptr);
    closeTrackListView();
    hudNow = [] { return HudClock::now(); };
}

TEST_F(GameFrameTest, TheCrashPanelSaysWhatEndedTheRunAndMarksWhereTheHeadWas)
{
    keyDown[VK_LEFT] = true;
    ASSERT_EQ(throttleToTheEnd(), StepCrashed);
    keyDown[VK_LEFT] = false;
    const double headX = shownMoto->head->position.x;
    const double headY = shownMoto->head->position.y;
    ASSERT_EQ(frame(GameRunning), GameCrashed);
    frame(GameCrashed);
    const OverlayText* reason = find("Your head hit the ground");
    ASSERT_NE(reason, nullptr);
    EXPECT_GT(reason->y, -70.0);   // inside the panel, under its keys
    EXPECT_LT(reason->y, find("Enter - restart")->y);
    const OverlayText* mark = find("(mark)");
    ASSERT_NE(mark, nullptr);
    EXPECT_DOUBLE_EQ(mark->x, headX - cameraCentre.x);
    EXPECT_DOUBLE_EQ(mark->y, headY - cameraCentre.y);
    EXPECT_NE(find("Game over"), nullptr);

    keyDown[VK_RETURN] = true;
    ASSERT_EQ(frame(GameCrashed), GameRestart);
    track.startY = kWorldTop - 10.0;
    ASSERT_TRUE(writeTestTrack(path, track));
    ASSERT_TRUE(restartRun());
    threadStep();
    ASSERT_EQ(stepResult.load(), StepCrashed);
    ASSERT_EQ(frame(GameRunning), GameCrashed);
    frame(GameCrashed);
    EXPECT_NE(find("You left the world"), nullptr);
    EXPECT_EQ(find("Your head hit the ground"), nullptr);
    stepResult = StepFinished;
    frame(GameFinished);
    EXPECT_EQ(find("(mark)"), nullptr);
}

TEST_F(GameFrameTest, TheCoachRidesAlongOnTheFirstPackTracksOnlyAndNeverInAReplay)
{
    // A folder whose par index names its tracks: the pack's.
    std::vector<ParTime> pars;
    for (const char* name : {"01-a.vlt", "05-b.vlt"}) {
        ASSERT_TRUE(writeTestTrack((dir / name).string(), track));
        uint64_t digest = 0;
        ASSERT_TRUE(trackDigest((dir / name).string(), digest));
        pars.push_back({name, digest, 1000});
    }
    ASSERT_TRUE(writeParTimes((dir / kParFileName).string(), pars));
    switchTrack((dir / "01-a.vlt").string());
    ASSERT_TRUE(restartRun());
    EXPECT_TRUE(coach.on());
    // Standing still long enough, the coach speaks in the running frames.
    // (The bike settles on the ground in its first second or so.)
    for (int32_t i = 0; i <= kCoachStillSteps + 200 && find("hold \u2191 to ride") == nullptr; ++i) {
        threadStep();
        frame(GameRunning);
    }
    EXPECT_NE(find("hold \u2191 to ride"), nullptr);
    stepResult = StepCrashed;
    ASSERT_EQ(frame(GameRunning), GameCrashed);
    EXPECT_FALSE(coach.on());
    keyDown['R'] = true;
    ASSERT_EQ(frame(GameCrashed), GameWatching);
    EXPECT_FALSE(coach.on());

    switchTrack((dir / "05-b.vlt").string());
    ASSERT_TRUE(restartRun());
    EXPECT_FALSE(coach.on());
    // A player's own track called 01 is not the pack's.
    TestTrack own = track;
    own.startX = 5.0;
    ASSERT_TRUE(writeTestTrack((dir / "01-a.vlt").string(), own));
    switchTrack((dir / "01-a.vlt").string());
    ASSERT_TRUE(restartRun());
    EXPECT_FALSE(coach.on());
    switchTrack(path);
}

TEST(GameTexts, ApplesLeft)
{
    EXPECT_EQ(applesLeftText(0), "no apples left");
    EXPECT_EQ(applesLeftText(1), "1 apple left");
    EXPECT_EQ(applesLeftText(2), "2 apples left");
    EXPECT_EQ(applesLeftText(17), "17 apples left");
}

TEST(GameTextures, AMissingImageIsNamedAndTheTexturesAfterItAreNotLoaded)
{
    const auto dir = scratchDir("textures");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    MessageRecorder recorder;
    EXPECT_FALSE(loadTextureSet());
    std::filesystem::current_path(previous);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Image loading error. (textures/kolo.jpg)");
    EXPECT_EQ(recorder.messages[0].caption, "Error");
    EXPECT_EQ(recorder.messages[0].flags, static_cast<unsigned>(MB_ICONEXCLAMATION));
    EXPECT_NE(wheelTexture, nullptr);   // kept, so that it is freed
    EXPECT_EQ(appleTexture, nullptr);
    EXPECT_EQ(borderTexture, nullptr);
    freeTextureSet();
    EXPECT_EQ(wheelTexture, nullptr);
    freeTextureSet();   // a game mode whose track fails frees the set again
    std::filesystem::remove_all(dir);
}
