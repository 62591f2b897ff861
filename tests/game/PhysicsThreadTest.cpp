// The physics thread against the frame loop, without a window: timing of the
// steps, pause and resume, runs that end by themselves, restarts while steps
// are due, and the stop at the end; the sound of a ride, recorded. Run under
// ThreadSanitizer as well.
#include "GameTestSupport.h"

#include "Tracks.h"

#include "game/Game.h"
#include "game/GameReplay.h"
#include "game/GameSound.h"
#include "game/GameWindow.h"
#include "model/Globals.h"
#include "model/RunTime.h"
#include "physics/World.h"
#include "platform/PerfCounter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <numbers>
#include <sys/wait.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Reads everything drawScene reads; runs inside sceneLock like it.
std::atomic<double> shownX{0.0};
std::atomic<int> shownApples{0};
void readScene()
{
    if (shownMoto == nullptr) {
        return;
    }
    shownX = shownMoto->position.x;
    int count = 0;
    for (const Capples* apple = trackApples; apple != nullptr; apple = apple->next) {
        ++count;
    }
    EXPECT_EQ(count, applesLeft);
    shownApples = count;
    // The apples the scene draws from the apple grid are the list's.
    static std::vector<Cvector> inView;
    applesInBox(-1e9, 1e9, -1e9, 1e9, inView);
    EXPECT_EQ(static_cast<int>(inView.size()), count);
}

double processSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A recording of the game's sound: mono float samples at 48 kHz; ranges are
// sample indices, clamped to the recording.
struct Recording {
    std::vector<float> samples;
    double rate = 48000.0;

    size_t at(int64_t frame) const
    {
        return std::min<size_t>(static_cast<size_t>(std::max<int64_t>(frame, 0)), samples.size());
    }
    double rms(int64_t from, int64_t to) const
    {
        double sum = 0.0;
        for (size_t i = at(from); i < at(to); ++i) {
            sum += samples[i] * samples[i];
        }
        return at(to) > at(from) ? std::sqrt(sum / static_cast<double>(at(to) - at(from))) : 0.0;
    }
    double largestStep(int64_t from, int64_t to) const
    {
        double step = 0.0;
        for (size_t i = at(from) + 1; i < at(to); ++i) {
            step = std::max(step, static_cast<double>(std::fabs(samples[i] - samples[i - 1])));
        }
        return step;
    }
    // The strongest frequency between 15 Hz and 1 kHz, 1 Hz apart.
    double dominantHz(int64_t from, int64_t to) const
    {
        double best = 0.0, bestHz = 0.0;
        for (double hz = 15.0; hz <= 1000.0; hz += 1.0) {
            const std::complex<double> turn = std::polar(1.0, -2.0 * std::numbers::pi * hz / rate);
            std::complex<double> phasor = 1.0, sum = 0.0;
            for (size_t i = at(from); i < at(to); ++i) {
                sum += static_cast<double>(samples[i]) * phasor;
                phasor *= turn;
            }
            if (std::abs(sum) > best) {
                best = std::abs(sum);
                bestHz = hz;
            }
        }
        return bestHz;
    }
};

class PhysicsThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        path = (dir / "track.vlt").string();
    }

    void start(const TestTrack& track)
    {
        ASSERT_TRUE(writeTestTrack(path, track));
        trackPath = path;
        gameMode = true;
        showFPS = false;
        ASSERT_TRUE(queryPerformanceFrequency(perfFrequency));
        stepTicks = std::llround(static_cast<double>(perfFrequency) * 0.01);
        clearKeys();
        ASSERT_TRUE(setupWorld());
        windowActive = true;
        frameDrawing = false;
        frameSceneDrawer = readScene;
        restartStepClock();
        startPhysicsThread();
        state = GameRunning;
    }

    void TearDown() override
    {
        stopPhysicsThread();
        freeWorld();
        frameDrawing = true;
        frameSceneDrawer = drawScene;
        windowActive = false;
        clearKeys();
        std::filesystem::remove_all(dir);
    }

    // The frame loop of the game mode, for a while.
    void runFrames(std::chrono::duration<double> seconds)
    {
        const auto end = std::chrono::steady_clock::now() + seconds;
        while (std::chrono::steady_clock::now() < end) {
            state = gameFrame(state);
            if (state == GameRestart) {
                state = GameRunning;
                ASSERT_TRUE(restartRun());
            }
            soundAfterFrame(state);
            std::this_thread::sleep_for(1ms);
        }
    }

    std::filesystem::path dir;
    std::string path;
    int32_t state = GameRunning;
};

} // namespace

TEST_F(PhysicsThreadTest, StepsAtAHundredPerSecondAfterTheHalfSecondWait)
{
    const auto before = std::chrono::steady_clock::now();
    start(TestTrack{});
    const auto after = std::chrono::steady_clock::now();
    runFrames(400ms);
    EXPECT_EQ(stepCount.load(), 0);
    EXPECT_TRUE(clockWaiting);
    runFrames(after + 1500ms - std::chrono::steady_clock::now());
    const auto t1 = std::chrono::steady_clock::now();
    const int32_t steps = stepCount.load();
    const auto t2 = std::chrono::steady_clock::now();
    EXPECT_FALSE(clockWaiting);
    // A step every 10 ms from half a second after the start, timed by the
    // counter whatever the frame rate; a late thread catches up.
    const auto due = [](std::chrono::duration<double> sinceStart) {
        return (sinceStart.count() - 0.5) * 100.0;
    };
    EXPECT_LE(steps, due(t2 - before) + 1.0);
    EXPECT_GE(steps, due(t1 - after) - 10.0);
    EXPECT_EQ(state, GameRunning);
}

TEST_F(PhysicsThreadTest, PauseStopsTheClockAndResumeWaitsAnotherHalfSecond)
{
    start(TestTrack{});
    runFrames(700ms);
    keyDown[VK_ESCAPE] = true;
    runFrames(20ms);
    ASSERT_EQ(state, GamePaused);
    const int32_t paused = stepCount.load();
    EXPECT_GT(paused, 0);
    runFrames(300ms);
    EXPECT_EQ(stepCount.load(), paused);
    EXPECT_TRUE(clockWaiting);

    keyDown[VK_SPACE] = true;
    runFrames(400ms);
    EXPECT_EQ(state, GameRunning);
    EXPECT_EQ(stepCount.load(), paused);
    runFrames(300ms);
    EXPECT_GT(stepCount.load(), paused);
}

TEST_F(PhysicsThreadTest, ARunThatReachesTheFinishStopsTheThreadAndTheClock)
{
    TestTrack track;
    // The finish right at the front wheel: the first step ends the run.
    track.finishX = track.startX + 221.0 / 3.0;
    track.finishY = track.startY - 113.0 / 3.0;
    start(track);
    runFrames(700ms);
    EXPECT_EQ(state, GameFinished);
    EXPECT_EQ(stepCount.load(), 1);
    EXPECT_FALSE(physicsEnabled);
    EXPECT_EQ(storedBestTime(path), runTimeOfSteps(1));
    runFrames(100ms);
    EXPECT_EQ(stepCount.load(), 1);

    keyDown[VK_RETURN] = true;
    runFrames(20ms);
    keyDown[VK_RETURN] = false;   // the end panel reads Enter as held
    EXPECT_EQ(state, GameRunning);
    EXPECT_EQ(stepCount.load(), 0);
    runFrames(700ms);
    EXPECT_EQ(state, GameFinished);
    EXPECT_EQ(stepCount.load(), 1);

    // A frame may enable the thread just after the last step. A restart
    // whose track has gone meanwhile leaves no world, and no step may run
    // on it.
    physicsEnabled = true;
    nextStepTime = queryPerformanceCounter() - stepTicks;
    std::filesystem::remove(path);
    MessageRecorder recorder;
    EXPECT_FALSE(restartRun());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(stepCount.load(), 1);
}

TEST_F(PhysicsThreadTest, TheFirstFrameSeesNoEarlierResultAndItsPauseHolds)
{
    // An earlier game mode ended at the finish; the new thread may not have
    // run yet when the first frame reads the result. A first frame that
    // finds the window inactive pauses the run, and the thread, however
    // late it starts, takes no step.
    for (int round = 0; round < 20; ++round) {
        stepResult = StepFinished;
        physicsEnabled = false;
        start(TestTrack{});
        if (round % 2 == 0) {
            EXPECT_EQ(gameFrame(GameRunning), GameRunning);
        } else {
            windowActive = false;
            EXPECT_EQ(gameFrame(GameRunning), GamePaused);
            nextStepTime = queryPerformanceCounter() - stepTicks;
            std::this_thread::sleep_for(20ms);
            EXPECT_FALSE(physicsEnabled);
            EXPECT_EQ(stepCount.load(), 0) << "round " << round;
        }
        stopPhysicsThread();
        freeWorld();
    }
}

TEST_F(PhysicsThreadTest, AHeadInTheRockEndsTheRunAsCrashed)
{
    TestTrack track;
    track.polygons.push_back({{-30.0, 140.0}, {30.0, 140.0}, {30.0, 200.0}, {-30.0, 200.0}});
    track.startY = 80.0;
    start(track);
    runFrames(700ms);
    EXPECT_EQ(state, GameCrashed);
    const int32_t steps = stepCount.load();
    EXPECT_GE(steps, 1);
    runFrames(100ms);
    EXPECT_EQ(stepCount.load(), steps);
}

TEST_F(PhysicsThreadTest, RestartsWhileStepsAreDueNeverMeetAStepInProgress)
{
    TestTrack track;
    for (int i = 0; i < 20; ++i) {
        track.apples.push_back({300.0 + 100.0 * i, 40.0});
    }
    start(track);
    keyDown[VK_UP] = true;
    for (int round = 0; round < 5; ++round) {
        // Holding the scene lock stretches a step: the thread waits for it
        // in the middle of the step, to publish the bike. The thread is far
        // behind, so more steps are due after this one.
        std::unique_lock<std::mutex> scene(sceneLock);
        nextStepTime = queryPerformanceCounter() - perfFrequency;
        physicsEnabled = true;
        const auto end = std::chrono::steady_clock::now() + 2s;
        while (clockWaiting.load() && std::chrono::steady_clock::now() < end) {
            std::this_thread::yield();
        }
        ASSERT_FALSE(clockWaiting.load()) << "no step began";

        std::atomic<bool> restarted{false};
        bool rebuilt = false;
        std::thread player([&] {
            restartStepClock();
            rebuilt = restartRun();
            restarted = true;
        });
        std::this_thread::sleep_for(30ms);
        EXPECT_FALSE(restarted.load()) << "the world was rebuilt under a running step";
        scene.unlock();
        player.join();
        EXPECT_TRUE(rebuilt);
        EXPECT_EQ(stepCount.load(), 0);
        EXPECT_EQ(applesLeft, 20);
        EXPECT_TRUE(clockWaiting.load());
    }
}

TEST_F(PhysicsThreadTest, TheSceneSeesApplesGoWhileTheBikeRides)
{
    TestTrack track;
    for (int i = 0; i < 5; ++i) {
        track.apples.push_back({150.0 + 80.0 * i, 40.0});
    }
    start(track);
    keyDown[VK_UP] = true;
    runFrames(2500ms);
    EXPECT_GT(shownX.load(), track.startX + 200.0);
    EXPECT_LT(shownApples.load(), 5);
}

TEST_F(PhysicsThreadTest, StopEndsTheThreadPromptlyWhetherPausedOrRiding)
{
    start(TestTrack{});
    runFrames(600ms);
    auto t0 = std::chrono::steady_clock::now();
    stopPhysicsThread();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 100ms);

    restartStepClock();
    startPhysicsThread();
    keyDown[VK_ESCAPE] = true;
    runFrames(50ms);
    ASSERT_EQ(state, GamePaused);
    t0 = std::chrono::steady_clock::now();
    stopPhysicsThread();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 100ms);
}

TEST_F(PhysicsThreadTest, TheThreadSleepsWhileWaitingOrPaused)
{
    start(TestTrack{});
    // Waiting for the first step: the main thread sleeps, the physics thread
    // should too.
    double cpu0 = processSeconds();
    std::this_thread::sleep_for(400ms);
    EXPECT_LT(processSeconds() - cpu0, 0.08);

    runFrames(200ms);
    keyDown[VK_ESCAPE] = true;
    runFrames(20ms);
    ASSERT_EQ(state, GamePaused);
    cpu0 = processSeconds();
    std::this_thread::sleep_for(500ms);
    EXPECT_LT(processSeconds() - cpu0, 0.1);

    keyDown[VK_SPACE] = true;
    runFrames(20ms);
    ASSERT_EQ(state, GameRunning);
    physicsEnabled = true;
    std::this_thread::sleep_for(600ms);   // riding: a step every 10 ms
    EXPECT_GT(stepCount.load(), 0);
}

// Each shipped track's proof run drives the physics thread, steps back to
// back; what the thread records is a replay that velto-sim confirms.
TEST_F(PhysicsThreadTest, ProofRunsRiddenByTheThreadAreRecordedAsReplaysTheSimulatorConfirms)
{
    ASSERT_TRUE(queryPerformanceFrequency(perfFrequency));
    stepTicks = std::llround(static_cast<double>(perfFrequency) * 0.01);
    gameMode = true;
    clearKeys();
    for (const TrackDesign& design : trackPack()) {
        SCOPED_TRACE(design.name);
        trackPath = (dir / (design.name + ".vlt")).string();
        ASSERT_TRUE(writeDesign(design, trackPath));
        Replay proof;
        std::string error;
        ASSERT_EQ(readReplayFile(std::string(VELTO_SOURCE_DIR) + "/tests/data/tracks/" + design.name + ".replay",
                                 proof, error),
                  ReplayReadError::None)
            << error;
        ASSERT_TRUE(setupWorld());
        replayPlayer.begin(&proof.changes);
        replayDriving = true;
        // Every step is long due: the thread takes them back to back.
        nextStepTime = queryPerformanceCounter() - perfFrequency * 100000;
        startPhysicsThread();
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (stepResult.load() == StepRunning && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(1ms);
        }
        stopPhysicsThread();
        replayDriving = false;
        EXPECT_EQ(stepResult.load(), StepFinished);
        ASSERT_TRUE(runRecorder.complete());
        EXPECT_EQ(runRecorder.changes().size(), proof.changes.size());

        endRun(stepResult.load(), stepCount.load(), false);
        const std::string recorded = (dir / (design.name + ".recorded")).string();
        ASSERT_TRUE(writeReplayFile(recorded, lastRunReplay()));
        const std::string command = std::string(VELTO_BINARY_DIR) + "/velto-sim '" + trackPath + "' --replay '" +
                                    recorded + "' >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
        freeWorld();
    }
}

TEST_F(PhysicsThreadTest, ARecordedRideSoundsItsEngineSmoothlyAndFallsSilentWhenPaused)
{
    // Whatever output the machine has, or none: no message, nothing on the
    // console, no noticeable wait.
    unsetenv("SDL_AUDIODRIVER");
    {
        MessageRecorder shown;
        ::testing::internal::CaptureStderr();
        const auto before = std::chrono::steady_clock::now();
        startGameSound();
        const auto took = std::chrono::steady_clock::now() - before;
        stopGameSound();
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_LT(took, 500ms); // a device search that waits is seconds; a busy machine adds tenths
        EXPECT_TRUE(shown.messages.empty());
    }

    const std::string recording = (dir / "ride.raw").string();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", recording.c_str(), 1);
    startGameSound();
    unsetenv("SDL_AUDIODRIVER");
    ASSERT_TRUE(gameSoundOpen());
    start(TestTrack{});
    nextStepTime = queryPerformanceCounter();
    const auto mark = [] { return gameSoundFrames(); };

    // Idle, then the throttle held (leaning forward against a wheelie), then
    // tapped on and off, then a pause.
    runFrames(700ms);
    const int64_t idleEnd = mark();
    keyDown[VK_RIGHT] = true;
    keyDown[VK_UP] = true;
    runFrames(900ms);
    const int64_t fullEnd = mark();
    std::vector<int64_t> toggles;
    for (int i = 0; i < 8; ++i) {
        keyDown[VK_UP] = i % 2 == 1;
        toggles.push_back(mark());
        runFrames(120ms);
    }
    ASSERT_EQ(state, GameRunning);
    keyDown[VK_ESCAPE] = true;
    runFrames(20ms);
    ASSERT_EQ(state, GamePaused);
    const int64_t pauseStart = mark();
    runFrames(600ms);
    const int64_t pauseEnd = mark();
    stopGameSound();
    unsetenv("SDL_DISKAUDIOFILE");

    Recording sound;
    std::ifstream file(recording, std::ios::binary);
    sound.samples.assign(std::filesystem::file_size(recording) / sizeof(float), 0.0f);
    file.read(reinterpret_cast<char*>(sound.samples.data()),
              static_cast<std::streamsize>(sound.samples.size() * sizeof(float)));
    ASSERT_GE(static_cast<int64_t>(sound.samples.size()), pauseEnd);
    const int64_t second = 48000;

    EXPECT_GT(sound.rms(second / 10, idleEnd), 0.02);
    EXPECT_GT(sound.rms(idleEnd, fullEnd), 0.05);
    const double idleHz = sound.dominantHz(idleEnd - second * 4 / 10, idleEnd);
    const double fullHz = sound.dominantHz(fullEnd - second * 4 / 10, fullEnd);
    EXPECT_GT(fullHz, 1.5 * idleHz) << idleHz << " Hz idle";
    // The engine's own waveform never steps by more than about 0.04 from
    // one sample to the next; a level or timbre switched without smoothing
    // makes steps of 0.12 and more.
    for (int64_t toggle : toggles) {
        EXPECT_LT(sound.largestStep(toggle - second / 50, toggle + second / 20), 0.08) << "at sample " << toggle;
    }
    EXPECT_LT(sound.rms(pauseStart + second * 3 / 10, pauseEnd), 1e-4);
}

TEST_F(PhysicsThreadTest, WatchingAgainWaitsForAStepStillRidingTheLastReplay)
{
    TestTrack track;
    track.finishX = 400.0;
    start(track);
    keyDown[VK_UP] = true;
    nextStepTime = queryPerformanceCounter();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (state == GameRunning && std::chrono::steady_clock::now() < deadline) {
        runFrames(50ms);
    }
    keyDown[VK_UP] = false;
    ASSERT_EQ(state, GameFinished);
    const int32_t ridden = stepCount.load();
    // Frames that draw nothing need no scene lock; the test holds it to
    // keep a step of the replay in flight.
    frameSceneDrawer = nullptr;

    keyDown['R'] = true;
    state = gameFrame(state);
    ASSERT_EQ(state, GameWatching);
    for (int round = 0; round < 3; ++round) {
        std::unique_lock<std::mutex> scene(sceneLock);
        nextStepTime = queryPerformanceCounter() - perfFrequency;
        state = gameFrame(state);   // lets the thread step
        const auto end = std::chrono::steady_clock::now() + 2s;
        while (clockWaiting.load() && std::chrono::steady_clock::now() < end) {
            std::this_thread::yield();
        }
        ASSERT_FALSE(clockWaiting.load()) << "no step began";

        // Esc ends watching, R begins it again, while that step still runs.
        std::atomic<bool> begun{false};
        std::thread player([&] {
            keyDown[VK_ESCAPE] = true;
            state = gameFrame(state);
            keyDown['R'] = true;
            state = gameFrame(state);
            begun = true;
        });
        std::this_thread::sleep_for(30ms);
        EXPECT_FALSE(begun.load());
        EXPECT_FALSE(replayDriving.load()) << "the replay was handed over under a running step";
        scene.unlock();
        player.join();
        ASSERT_EQ(state, GameWatching);
    }
    // The last watch rides to the end as the run did.
    nextStepTime = queryPerformanceCounter();
    const auto watchEnd = std::chrono::steady_clock::now() + 20s;
    while (state == GameWatching && std::chrono::steady_clock::now() < watchEnd) {
        runFrames(50ms);
    }
    EXPECT_EQ(state, GameWatched);
    EXPECT_EQ(stepCount.load(), ridden);
}
