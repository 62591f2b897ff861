#include "game/GameWindow.h"

#include "game/Game.h"
#include "game/GameGhost.h"
#include "game/GameHub.h"
#include "game/GameReplay.h"
#include "game/GameSound.h"
#include "game/PanelLines.h"
#include "game/TrackListView.h"
#include "gfx/Text.h"
#include "model/Globals.h"
#include "model/ParTimes.h"
#include "model/Replay.h"
#include "model/RunTime.h"
#include "net/HubService.h"
#include "model/TrackFolder.h"
#include "physics/World.h"
#include "platform/Controllers.h"
#include "platform/MessageBox.h"
#include "platform/PerfCounter.h"
#include "platform/RenderWindow.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>

int64_t perfFrequency = 0;
int64_t stepTicks = 0;
std::atomic<int64_t> nextStepTime{0};
int64_t lastFrameTime = 0;
double fpsAverage = 0.0;
std::atomic<int32_t> stepResult{0};
std::atomic<bool> physicsEnabled{false};
std::mutex stepLock;

void (*frameSceneDrawer)() = drawScene;
bool frameDrawing = true;
std::vector<OverlayText>* frameTextLog = nullptr;
void (*gameLoopHook)(int32_t state) = nullptr;
bool firstHintPending = true;

namespace {

// False until the mode's first frame is on the screen; the bike waits for it.
bool runOnScreen = false;

// Keys of the end panel and of watching, beyond the game's own.
constexpr int kKeyWatchRun = 'R';
constexpr int kKeyWatchBest = 'B';
constexpr int kKeyGhost = 'G';
// The hub's record as a second ghost, on the end and pause panels.
constexpr int kKeyRecord = 'W';
// Keys of the end and pause panels: the next track of the folder, the list.
constexpr int kKeyNextTrack = 'N';
constexpr int kKeyTrackList = 'T';

// The panel that the track list returns to.
int32_t listReturnState = GamePaused;

// The end panel (Finished or Crashed) that watching returns to.
int32_t watchReturnState = GameFinished;

std::thread physicsWorker;
std::atomic<bool> physicsStopRequested{false};

// The physics thread never sleeps longer than this at a time, so that a stop
// request or a resume is seen promptly.
constexpr auto kMaxNap = std::chrono::milliseconds(2);

void overlayText(const std::string& text, float r, float g, float b, float a, double x, double y,
                 double scale, bool centred)
{
    if (frameTextLog != nullptr) {
        frameTextLog->push_back(OverlayText{text, r, g, b, a, x, y, scale, centred});
    }
    if (frameDrawing) {
        glColor4f(r, g, b, a);
        printText(text, centred, x, y, scale);
    }
}

// x of a text in the top bar's right corner: `inset` pixels left of the
// window's right edge, or further left when the text would not fit there,
// so that it ends 5 pixels before the edge.
double rightAligned(const std::string& text, double w, double inset, double scale)
{
    return w / 2.0 - std::max(inset, textWidth(text, scale) + 5.0);
}

void panelBackground()
{
    if (frameTextLog != nullptr) {
        frameTextLog->push_back(OverlayText{"", 1.0f, 1.0f, 1.0f, 0.5f, -100.0, 70.0, 0.0, false});
    }
    if (frameDrawing) {
        glColor4f(1.0f, 1.0f, 1.0f, 0.5f);
        glBegin(GL_QUADS);
        glVertex2d(-100.0, 70.0);
        glVertex2d(100.0, 70.0);
        glVertex2d(100.0, -70.0);
        glVertex2d(-100.0, -70.0);
        glEnd();
    }
}

// The added lines of a panel (game/PanelLines.h), the first at `top` and
// each further one 20 pixels lower, on a dark band as wide as the widest
// line, so that they read over any part of the scene.
constexpr double kPanelLineScale = 16.0;
constexpr double kPanelLineGap = 20.0;

void panelLinesFrom(double top)
{
    const std::vector<std::string> texts = panelLines();
    if (texts.empty()) {
        return;
    }
    double widest = 0.0;
    for (const std::string& text : texts) {
        widest = std::max(widest, textWidth(text, kPanelLineScale));
    }
    const double left = -widest / 2.0 - 10.0;
    const double upper = top + kPanelLineScale + 2.0;
    const double lower = top - kPanelLineGap * static_cast<double>(texts.size() - 1) - 7.0;
    if (frameTextLog != nullptr) {
        frameTextLog->push_back(OverlayText{"", 0.0f, 0.0f, 0.0f, 0.45f, left, upper, 0.0, false});
    }
    if (frameDrawing) {
        glColor4f(0.0f, 0.0f, 0.0f, 0.45f);
        glBegin(GL_QUADS);
        glVertex2d(left, upper);
        glVertex2d(-left, upper);
        glVertex2d(-left, lower);
        glVertex2d(left, lower);
        glEnd();
    }
    double y = top;
    for (const std::string& text : texts) {
        overlayText(text, 1.0f, 0.9f, 0.2f, 0.95f, 0.0, y, kPanelLineScale, true);
        y -= kPanelLineGap;
    }
}

// The game's keys in one line near the bottom, clear of the bike, which
// the camera keeps at mid-height.
void firstHint(double w, double h)
{
    const std::string hint = "Up - throttle   Down - brake   Left/Right - lean   Space - turn   Esc - pause";
    const double scale = std::min(16.0, 16.0 * (w - 20.0) / std::max(1.0, textWidth(hint, 16.0)));
    const double half = textWidth(hint, scale) / 2.0 + 8.0;
    const double y = -h / 2.0 + 45.0;
    if (frameDrawing) {
        glColor4f(0.0f, 0.0f, 0.0f, 0.5f);
        glBegin(GL_QUADS);
        glVertex2d(-half, y - 7.0);
        glVertex2d(half, y - 7.0);
        glVertex2d(half, y + scale + 3.0);
        glVertex2d(-half, y + scale + 3.0);
        glEnd();
    }
    overlayText(hint, 1.0f, 1.0f, 1.0f, 0.9f, 0.0, y, scale, true);
}

bool anyKeyDown()
{
    for (const auto& key : keyDown) {
        if (key.load()) {
            return true;
        }
    }
    return false;
}

// "+1.25 s", "-0.34 s", "0.00 s" for a difference in steps.
std::string signedSeconds(int32_t steps)
{
    const int64_t magnitude = steps < 0 ? -int64_t{steps} : int64_t{steps};
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%02lld s", steps > 0 ? "+" : (steps < 0 ? "-" : ""),
                  static_cast<long long>(magnitude / 100), static_cast<long long>(magnitude % 100));
    return text;
}

// The par of the track being ridden, from its folder's index; -1 for none.
int32_t parOfTrack(const std::string& path)
{
    uint64_t digest = 0;
    if (!trackDigest(path, digest)) {
        return -1;
    }
    return ParTimes::readFolder(folderOf(path)).parFor(fileNameOf(path), digest);
}

// N on a panel: the next readable track of the folder, as a restart on it;
// after the last one the panel says so.
int32_t rideNextTrack(int32_t s)
{
    const std::string next = nextReadableTrack(trackPath);
    if (next.empty()) {
        setPanelLine("next", "No track after this one in its folder");
        return s;
    }
    switchTrack(next);
    restartStepClock();
    stepResult = StepRunning;
    return GameRestart;
}

// Stops the run for the pause panel: no more steps, every key released, the
// clock red until the first step after the resume.
void pauseRun(int32_t& r)
{
    physicsEnabled = false;
    clearKeys();
    clockWaiting = true;
    r = GamePaused;
}

void napUntilDue()
{
    if (!physicsEnabled.load() || stepResult.load() != StepRunning) {
        std::this_thread::sleep_for(kMaxNap);
        return;
    }
    const int64_t ahead = nextStepTime.load() - queryPerformanceCounter();
    if (ahead <= 0) {
        return;
    }
    const auto wait = std::chrono::nanoseconds(
        static_cast<int64_t>(static_cast<double>(ahead) * 1e9 / static_cast<double>(perfFrequency)));
    std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(wait, kMaxNap));
}

} // namespace

void restartStepClock()
{
    const int64_t now = queryPerformanceCounter();
    lastFrameTime = now;
    nextStepTime = now + std::llround(static_cast<double>(perfFrequency) * 0.5);
}

void physicsThread()
{
    // The run state was set by startPhysicsThread; a first frame that ran
    // before this thread did may already have paused the run.
    while (!physicsStopRequested.load()) {
        {
            // Every due step back to back. The loop also stops while the
            // latest result is non-zero, so that a frame which re-enables
            // the thread just as a run ends cannot let it step on past the
            // end; the main thread sets stepResult back to 0 at a restart.
            std::lock_guard<std::mutex> stepping(stepLock);
            while (physicsEnabled.load() && stepResult.load() == StepRunning &&
                   !physicsStopRequested.load()) {
                if (queryPerformanceCounter() < nextStepTime.load()) {
                    break;
                }
                clockWaiting = false;
                const int32_t r = stepRun();
                // The clock counts the step before its result is published,
                // so a frame that sees the result reads the final time.
                stepCount.fetch_add(1);
                stepResult = r;
                soundAfterStep(r);
                if (r != StepRunning) {
                    physicsEnabled = false;
                    break;
                }
                nextStepTime.fetch_add(stepTicks);
            }
        }
        napUntilDue();
    }
}

void startPhysicsThread()
{
    // Set here and only here: the first frame may run before the thread
    // does, and must neither read the result of an earlier game mode nor
    // have a pause of its own undone.
    stepResult = StepRunning;
    physicsEnabled = true;
    physicsStopRequested = false;
    physicsWorker = std::thread(physicsThread);
}

void stopPhysicsThread()
{
    if (!physicsWorker.joinable()) {
        return;
    }
    physicsStopRequested = true;
    physicsWorker.join();
    physicsStopRequested = false;
}

namespace {

// Rebuilds the run's world from the track file once no step runs; with a
// replay given, it drives the new world when it was recorded on it. No new
// step from here on, whatever a late frame enabled; the next Running or
// Watching frame lets the thread go on. The lock waits for a step that is
// still running, and keeps the replay being watched from changing under
// one. The result of the old run goes, so that a run which ended just as it
// was paused does not end the new one at once.
bool rebuildRun(Replay* replay, WatchSource source, bool& watching)
{
    physicsEnabled = false;
    std::lock_guard<std::mutex> stepping(stepLock);
    stepResult = StepRunning;
    freeWorld();
    if (!setupWorld()) {
        return false;
    }
    watching = replay != nullptr && startWatching(std::move(*replay), source);
    return true;
}

} // namespace

bool restartRun()
{
    bool watching = false;
    return rebuildRun(nullptr, WatchSource::LastRun, watching);
}

// Ends watching: the thread stops and the end panel comes back. Esc is let
// go, so that the panel does not read it as a quit.
int32_t endWatching()
{
    physicsEnabled = false;
    stopWatching();
    keyDown[VK_ESCAPE] = false;
    return watchReturnState;
}

// R or B on the end panel: the world is rebuilt as at a restart and the
// replay drives it. Returns the next state: `s` when there is nothing to
// watch, Paused when the track just rebuilt is not the replay's (a panel
// says why in either case), Quit when the track can no longer be read.
int32_t beginWatching(int32_t s, WatchSource source)
{
    Replay replay;
    if (!replayToWatch(source, replay)) {
        return s;
    }
    watchReturnState = s;
    bool watching = false;
    if (!rebuildRun(&replay, source, watching)) {
        return GameQuit;
    }
    if (!watching) {
        // The track changed as it was read: the ride on the panel is gone,
        // and a new run of the track as it is now waits on the pause panel.
        return GamePaused;
    }
    restartStepClock();
    return GameWatching;
}

int32_t gameFrame(int32_t s)
{
    int32_t r;
    if (s == GameRunning) {
        r = stepResult.load();
        if (r == GameRunning) {
            physicsEnabled = true;
        }
    } else if (s == GameWatching) {
        // The replay runs until the step that ends it, or to its last step.
        r = s;
        if (stepResult.load() != StepRunning || stepCount.load() >= watchedSteps()) {
            r = endWatching();
        } else {
            physicsEnabled = true;
        }
    } else {
        r = s;
    }
    const bool endPanel = s == GameFinished || s == GameCrashed;
    if (firstHintPending && anyKeyDown()) {
        firstHintPending = false;
    }
    if (keyDown[kKeyGhost].exchange(false)) {
        ghostShown = !ghostShown;
    }
    const bool watchingNow = s == GameWatching || s == GameWatchPaused;

    // The first frame that sees the finish writes a new best time, drawn or
    // not: later frames only show it.
    const double runTime = runTimeOfSteps(stepCount.load());
    const bool newBest = r == GameFinished && (bestTime == -1.0 || runTime < bestTime);
    if (newBest && s == GameRunning) {
        writeBestTime(runTime);
    }
    // The same frame keeps the run for watching and writes a best run's replay.
    if (s == GameRunning && (r == GameFinished || r == GameCrashed)) {
        endRun(r, stepCount.load(), newBest);
        hubRunEnded(newBest);
    }
    if (endPanel || s == GamePaused) {
        if (keyDown[kKeyRecord].exchange(false)) {
            hubRecordKey();
        }
        if (!hubPanelFrame()) {
            messageBox("Cant't load the track.", "Error", MB_ICONEXCLAMATION);
            return GameQuit;
        }
    }
    if (s == GameRunning && r == GameFinished) {
        // bestTime still holds the best before this run.
        setPanelLine("finish", finishComparison(stepCount.load(), parOfTrack(trackPath), stepsOfRunTime(bestTime)));
    }

    if (!windowActive.load()) {
        if (r == GameRunning) {
            pauseRun(r);
        } else if (r == GameWatching) {
            physicsEnabled = false;
            clockWaiting = true;
            r = GameWatchPaused;
        }
        return r;
    }

    if (frameSceneDrawer != nullptr) {
        std::lock_guard<std::mutex> drawing(sceneLock);
        frameSceneDrawer();
    }

    if (frameDrawing) {
        glColor4f(1.0f, 1.0f, 1.0f, 0.5f);
    }
    const double w = viewWidth.load();
    const double h = viewHeight.load();

    if (showFPS) {
        const int64_t now = queryPerformanceCounter();
        // Two frames within one counter tick would make the average infinite
        // for good; such a frame is not measured.
        if (now > lastFrameTime) {
            const double instant = static_cast<double>(perfFrequency) / static_cast<double>(now - lastFrameTime);
            lastFrameTime = now;
            fpsAverage = 0.9 * fpsAverage + instant / 10.0;
        }
        const double shown = std::clamp(std::round(fpsAverage), 0.0, 1e9);
        overlayText(std::to_string(static_cast<int64_t>(shown)), 1.0f, 1.0f, 1.0f, 0.5f,
                    -w / 2.0 + 5.0, -h / 2.0 + 20.0, 20.0, false);
    }

    if (watchingNow) {
        overlayText(s == GameWatchPaused ? "Replay - paused" : "Replay", 1.0f, 0.9f, 0.2f, 0.9f, -w / 2.0 + 5.0,
                    h / 2.0 - 20.0, 20.0, false);
    } else if (bestTime != -1.0) {
        overlayText(bestTimeText, 1.0f, 1.0f, 1.0f, 0.5f, -w / 2.0 + 5.0, h / 2.0 - 20.0, 20.0, false);
    }

    const std::string clock = formatRunTime(runTime);
    const double clockX = rightAligned(clock, w, 90.0, 20.0);
    if (endPanel || s == GamePaused || s == GameWatchPaused || s == GameTrackList) {
        overlayText(clock, 1.0f, 1.0f, 1.0f, 0.5f, clockX, h / 2.0 - 20.0, 20.0, false);
    } else if (clockWaiting.load()) {
        overlayText(clock, 1.0f, 0.0f, 0.0f, 0.7f, clockX, h / 2.0 - 20.0, 20.0, false);
    } else {
        overlayText(clock, 0.0f, 1.0f, 0.0f, 0.7f, clockX, h / 2.0 - 20.0, 20.0, false);
    }

    if (endPanel) {
        panelBackground();
        if (s == GameFinished) {
            overlayText("Finished", 0.1f, 0.6f, 0.1f, 0.7f, 0.0, 20.0, 30.0, true);
        } else {
            overlayText("Game over", 0.8f, 0.1f, 0.1f, 0.7f, 0.0, 20.0, 30.0, true);
        }
        overlayText("Esc  -  exit", 0.0f, 0.0f, 0.0f, 0.7f, 0.0, -10.0, 20.0, true);
        overlayText("Enter - restart", 0.0f, 0.0f, 0.0f, 0.7f, 0.0, -30.0, 20.0, true);
        std::string keys = bestRunStored() ? "R - replay   B - best run   G - ghost" : "R - replay   G - ghost";
        if (hubActive()) {
            keys += "   W - record";
        }
        overlayText(keys, 1.0f, 1.0f, 1.0f, 0.8f, 0.0, -90.0, 16.0, true);
        overlayText("N - next track   T - track list", 1.0f, 1.0f, 1.0f, 0.8f, 0.0, -110.0, 16.0, true);
        panelLinesFrom(-110.0 - kPanelLineGap - 5.0);
    }
    if (s == GamePaused) {
        panelBackground();
        overlayText("Paused", 0.1f, 0.1f, 0.8f, 0.7f, 0.0, 20.0, 30.0, true);
        overlayText("Esc  -  exit", 0.0f, 0.0f, 0.0f, 0.7f, 0.0, -10.0, 20.0, true);
        overlayText("Enter - restart", 0.0f, 0.0f, 0.0f, 0.7f, 0.0, -30.0, 20.0, true);
        overlayText("Space - resume", 0.0f, 0.0f, 0.0f, 0.7f, 0.0, -50.0, 20.0, true);
        overlayText(hubActive() ? "N - next track   T - track list   W - world record" : "N - next track   T - track list",
                    1.0f, 1.0f, 1.0f, 0.8f, 0.0, -90.0, 16.0, true);
        panelLinesFrom(-90.0 - kPanelLineGap - 5.0);
    }
    if (firstHintPending && (s == GameRunning || s == GamePaused)) {
        firstHint(w, h);
    }
    ListAction listAction = ListAction::Stay;
    if (s == GameTrackList) {
        listAction = trackListFrame(w, h, overlayText, frameDrawing);
    }

    if (newBest) {
        overlayText("Best time!", 1.0f, 0.0f, 0.0f, 0.7f, rightAligned("Best time!", w, 160.0, 30.0),
                    h / 2.0 - 50.0, 30.0, false);
    }

    if (frameDrawing) {
        presentFrame();
    }
    if (!runOnScreen) {
        // The red half second starts with the first frame, however long
        // the window, the sound and that frame took to come up.
        runOnScreen = true;
        restartStepClock();
    }

    if (r == GameRunning && keyDown[VK_ESCAPE].load()) {
        pauseRun(r);
    }
    if (r == GamePaused) {
        if (keyDown[VK_ESCAPE].load()) {
            r = GameQuit;
        } else if (keyDown[VK_RETURN].load()) {
            keyDown[VK_RETURN] = false;
            r = GameRestart;
            restartStepClock();
        } else if (keyDown[VK_SPACE].load()) {
            keyDown[VK_SPACE] = false;
            r = GameRunning;
            restartStepClock();
        } else if (keyDown[kKeyNextTrack].exchange(false)) {
            r = rideNextTrack(r);
        } else if (keyDown[kKeyTrackList].exchange(false)) {
            openTrackListView(trackPath);
            listReturnState = r;
            r = GameTrackList;
        }
    }
    if (endPanel) {
        if (keyDown[VK_RETURN].load()) {
            r = GameRestart;
            restartStepClock();
            stepResult = StepRunning;
        } else if (keyDown[VK_ESCAPE].load()) {
            r = GameQuit;
        } else if (keyDown[kKeyWatchRun].exchange(false)) {
            r = beginWatching(s, WatchSource::LastRun);
        } else if (keyDown[kKeyWatchBest].exchange(false)) {
            r = beginWatching(s, WatchSource::BestRun);
        } else if (keyDown[kKeyNextTrack].exchange(false)) {
            r = rideNextTrack(s);
        } else if (keyDown[kKeyTrackList].exchange(false)) {
            openTrackListView(trackPath);
            listReturnState = s;
            r = GameTrackList;
        }
    }
    if (s == GameTrackList) {
        if (listAction == ListAction::Back) {
            closeTrackListView();
            r = listReturnState;
        } else if (listAction == ListAction::Ride) {
            switchTrack(chosenTrack());
            closeTrackListView();
            restartStepClock();
            stepResult = StepRunning;
            r = GameRestart;
        }
    }
    if (watchingNow && r == s) {
        // Space holds and goes on, Esc stops watching, Enter starts a run.
        if (keyDown[VK_ESCAPE].load()) {
            r = endWatching();
        } else if (keyDown[VK_RETURN].load()) {
            keyDown[VK_RETURN] = false;
            physicsEnabled = false;
            stopWatching();
            r = GameRestart;
            restartStepClock();
            stepResult = StepRunning;
        } else if (keyDown[VK_SPACE].exchange(false)) {
            if (s == GameWatching) {
                physicsEnabled = false;
                clockWaiting = true;
                r = GameWatchPaused;
            } else {
                r = GameWatching;
                restartStepClock();
            }
        }
    }
    // A run that starts leaves the panel's added lines behind.
    if (r == GameRestart || (s == GamePaused && r == GameRunning)) {
        clearPanelLines();
    }
    return r;
}

std::string finishComparison(int32_t steps, int32_t parSteps, int32_t bestSteps)
{
    std::string line;
    if (parSteps > 0) {
        std::string medal = medalName(medalFor(steps, parSteps));
        medal[0] = static_cast<char>(medal[0] - 'a' + 'A');
        line = medal + "   " + signedSeconds(steps - parSteps) + " vs par   " +
               (bestSteps >= 0 ? signedSeconds(steps - bestSteps) + " vs best" : "first finish");
    } else if (bestSteps >= 0) {
        line = signedSeconds(steps - bestSteps) + " vs best";
    }
    return line;
}

void runGame()
{
    fpsAverage = 0.0;
    clearKeys();
    clearPanelLines();

    int64_t frequency = 0;
    if (!queryPerformanceFrequency(frequency) || frequency <= 0) {
        messageBox("Cant't initialize timer.", "Error", MB_ICONEXCLAMATION);
        return;
    }
    perfFrequency = frequency;
    stepTicks = std::max<int64_t>(1, std::llround(static_cast<double>(perfFrequency) * 0.01));

    if (!openRenderWindow("Velto", modeWidth, modeHeight, fullscreen)) {
        return;
    }

    if (initGame()) {
        showRenderWindow();
        // Controllers are the game's alone; without them it runs on the keyboard.
        openControllers();
        // No step until the first frame restarts the clock.
        runOnScreen = false;
        restartStepClock();
        nextStepTime = std::numeric_limits<int64_t>::max();
        startGameSound();
        startPhysicsThread();

        int32_t state = GameRunning;
        for (;;) {
            if (closeRequested.exchange(false)) {
                postQuitMessage();
            }
            const PumpResult message = pumpMessage();
            if (message == PumpResult::Quit) {
                break;
            }
            if (message == PumpResult::Empty) {
                state = gameFrame(state);
                if (state == GameQuit) {
                    break;
                }
                if (state == GameRestart) {
                    state = GameRunning;
                    if (!restartRun()) {
                        break;
                    }
                }
                soundAfterFrame(state);
            }
            if (gameLoopHook != nullptr) {
                gameLoopHook(state);
            }
            std::this_thread::yield();
        }
    }

    stopPhysicsThread();
    closeTrackListView();
    closeControllers();
    stopGameSound();
    closeRenderWindow();
    doneGame();
}
