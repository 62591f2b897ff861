#include "game/GameWindow.h"

#include "game/Coach.h"
#include "game/Game.h"
#include "game/GameGhost.h"
#include "game/GameHub.h"
#include "game/GameReplay.h"
#include "game/GameSound.h"
#include "game/HudNotes.h"
#include "game/HubTracksView.h"
#include "game/RunEnding.h"
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
bool testRideActive = false;

namespace {

// False until the mode's first frame is on the screen; the bike waits for it.
bool runOnScreen = false;

// Keys of the end panel and of watching, beyond the game's own.
constexpr int kKeyWatchRun = 'R';
constexpr int kKeyWatchBest = 'B';
constexpr int kKeyGhost = 'G';
// The hub's record as a second ghost, on the end and pause panels.
constexpr int kKeyRecord = 'W';
// After a finish on a hub track: like it, or take the like back.
constexpr int kKeyLike = 'L';
// Keys of the end and pause panels: the next track of the folder, the list.
constexpr int kKeyNextTrack = 'N';
constexpr int kKeyTrackList = 'T';
// The track's demo, on the end, pause and after-watching panels and the list.
constexpr int kKeyDemo = 'D';

// How the run on the panel ended, and where the head was then.
RunEnding runEnding = RunEnding::None;
double endHeadX = 0.0;
double endHeadY = 0.0;

// The panel that the track list returns to.
int32_t listReturnState = GamePaused;

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

// A dark translucent rectangle for texts to stand on.
void backdrop(double left, double bottom, double right, double top, float alpha)
{
    if (frameTextLog != nullptr) {
        frameTextLog->push_back(OverlayText{"", 0.0f, 0.0f, 0.0f, alpha, left, top, 0.0, false});
    }
    if (frameDrawing) {
        glColor4f(0.0f, 0.0f, 0.0f, alpha);
        glBegin(GL_QUADS);
        glVertex2d(left, top);
        glVertex2d(right, top);
        glVertex2d(right, bottom);
        glVertex2d(left, bottom);
        glEnd();
    }
}

// U+2190..U+2193 (left, up, right, down): the font has no arrows, so the
// text is printed with a blank in their place and each is drawn into its
// cell. 0 for any other character at `i`, else its direction 1..4.
int arrowAt(const std::string& text, size_t i)
{
    if (i + 2 < text.size() && static_cast<unsigned char>(text[i]) == 0xE2 &&
        static_cast<unsigned char>(text[i + 1]) == 0x86) {
        const int last = static_cast<unsigned char>(text[i + 2]);
        if (last >= 0x90 && last <= 0x93) {
            return last - 0x90 + 1;
        }
    }
    return 0;
}

void arrowText(const std::string& text, float r, float g, float b, float a, double x, double y, double scale,
               bool centred)
{
    std::string plain;
    std::vector<std::pair<std::string, int>> arrows;   // text before each arrow, direction
    for (size_t i = 0; i < text.size();) {
        const int arrow = arrowAt(text, i);
        if (arrow != 0) {
            arrows.emplace_back(plain, arrow);
            plain += ' ';
            i += 3;
        } else {
            plain += text[i++];
        }
    }
    if (frameTextLog != nullptr) {
        frameTextLog->push_back(OverlayText{text, r, g, b, a, x, y, scale, centred});
    }
    if (!frameDrawing) {
        return;
    }
    glColor4f(r, g, b, a);
    printText(plain, centred, x, y, scale);
    const double left = centred ? x - textWidth(plain, scale) / 2.0 : x;
    const double cell = std::max(1.0, textWidth(" ", scale));
    for (const auto& [before, direction] : arrows) {
        const double cx = left + textWidth(before, scale) + cell / 2.0;
        const double cy = y + scale * 0.33;
        const double s = std::min(cell, scale * 0.6) * 0.5;
        // Direction 1 left, 2 up, 3 right, 4 down: a shaft and a head.
        const double dx = direction == 1 ? -1.0 : (direction == 3 ? 1.0 : 0.0);
        const double dy = direction == 2 ? 1.0 : (direction == 4 ? -1.0 : 0.0);
        glBegin(GL_TRIANGLES);
        glVertex2d(cx + dx * s, cy + dy * s);
        glVertex2d(cx - dy * s * 0.8, cy + dx * s * 0.8);
        glVertex2d(cx + dy * s * 0.8, cy - dx * s * 0.8);
        glEnd();
        glBegin(GL_QUADS);
        glVertex2d(cx - dy * s * 0.25, cy + dx * s * 0.25);
        glVertex2d(cx + dy * s * 0.25, cy - dx * s * 0.25);
        glVertex2d(cx + dy * s * 0.25 - dx * s, cy - dx * s * 0.25 - dy * s);
        glVertex2d(cx - dy * s * 0.25 - dx * s, cy + dx * s * 0.25 - dy * s);
        glEnd();
    }
}

// The keys of a panel (white) and its added lines (game/PanelLines.h,
// yellow), the first at `top` and each further one 20 pixels lower, on a
// dark band as wide as the widest line, drawn over everything else so that
// they read over any part of the scene.
constexpr double kPanelLineScale = 16.0;
constexpr double kPanelLineGap = 20.0;

void keyBand(const std::vector<std::string>& keys, double top)
{
    const std::vector<std::string> lines = panelLines();
    if (keys.empty() && lines.empty()) {
        return;
    }
    double widest = 0.0;
    for (const std::string& text : keys) {
        widest = std::max(widest, textWidth(text, kPanelLineScale));
    }
    for (const std::string& text : lines) {
        widest = std::max(widest, textWidth(text, kPanelLineScale));
    }
    const size_t count = keys.size() + lines.size();
    const double left = -widest / 2.0 - 10.0;
    const double upper = top + kPanelLineScale + 4.0;
    const double lower = top - kPanelLineGap * static_cast<double>(count - 1) - 8.0;
    backdrop(left, lower, -left, upper, 0.7f);
    double y = top;
    for (const std::string& text : keys) {
        overlayText(text, 1.0f, 1.0f, 1.0f, 0.95f, 0.0, y, kPanelLineScale, true);
        y -= kPanelLineGap;
    }
    for (const std::string& text : lines) {
        overlayText(text, 1.0f, 0.9f, 0.2f, 0.95f, 0.0, y, kPanelLineScale, true);
        y -= kPanelLineGap;
    }
}

// A note on its own band: the track's name near the top, a key's state
// line under it.
void noteBand(const std::string& text, double y, double scale, float r, float g, float b)
{
    const double half = textWidth(text, scale) / 2.0 + 10.0;
    backdrop(-half, y - 7.0, half, y + scale + 3.0, 0.55f);
    overlayText(text, r, g, b, 0.95f, 0.0, y, scale, true);
}

// A ring round the place where the run ended, in the frozen frame: the
// head's place, in window coordinates through the scene's camera.
void endMark()
{
    const double x = endHeadX - cameraCentre.x;
    const double y = endHeadY - cameraCentre.y;
    if (frameTextLog != nullptr) {
        frameTextLog->push_back(OverlayText{"(mark)", 1.0f, 0.15f, 0.1f, 0.9f, x, y, 0.0, false});
    }
    if (!frameDrawing) {
        return;
    }
    glColor4f(1.0f, 0.15f, 0.1f, 0.9f);
    glLineWidth(3.0f);
    for (const double radius : {22.0, 30.0}) {
        glBegin(GL_LINE_LOOP);
        for (int i = 0; i < 32; ++i) {
            const double t = i * 3.14159265358979 / 16.0;
            glVertex2d(x + radius * std::cos(t), y + radius * std::sin(t));
        }
        glEnd();
    }
    glLineWidth(1.0f);
}

// The keys a replay holds, drawn as five key caps along the bottom, lit
// while held.
void heldKeysStrip(uint8_t keys, double h)
{
    struct Cap {
        uint8_t bit;
        const char* label;
    };
    static const Cap caps[] = {{KeyLeft, "\u2190"}, {KeyUp, "\u2191"}, {KeyDown, "\u2193"}, {KeyRight, "\u2192"},
                               {KeySpace, "Space"}};
    const double y = -h / 2.0 + 40.0;
    double x = -150.0;
    for (const Cap& cap : caps) {
        const bool held = (keys & cap.bit) != 0;
        const double width = cap.bit == KeySpace ? 80.0 : 40.0;
        if (frameDrawing) {
            if (held) {
                glColor4f(1.0f, 0.85f, 0.2f, 0.9f);
            } else {
                glColor4f(0.0f, 0.0f, 0.0f, 0.5f);
            }
            glBegin(GL_QUADS);
            glVertex2d(x, y - 10.0);
            glVertex2d(x + width, y - 10.0);
            glVertex2d(x + width, y + 26.0);
            glVertex2d(x, y + 26.0);
            glEnd();
        }
        const float shade = held ? 0.0f : 1.0f;
        if (held && frameTextLog != nullptr) {
            frameTextLog->push_back(OverlayText{std::string("held ") + cap.label, 1.0f, 0.85f, 0.2f, 0.9f, x, y, 0.0,
                                                false});
        }
        arrowText(cap.label, shade, shade, shade, held ? 1.0f : 0.6f, x + width / 2.0, y, 16.0, true);
        x += width + 10.0;
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

namespace {

// What the panel after watching says was watched.
std::string watchedText;

// The coach's view of the bike as the latest step left it.
CoachSample coachSampleNow()
{
    CoachSample sample;
    const uint8_t keys = heldDrivingKeys();
    sample.step = stepCount.load();
    sample.facing = facing.load();
    sample.throttle = (keys & KeyUp) != 0 && (keys & KeyDown) == 0;
    std::lock_guard<std::mutex> drawing(sceneLock);
    if (shownMoto == nullptr || shownMoto->head == nullptr || finishBall == nullptr) {
        return sample;
    }
    sample.frameAngle = shownMoto->angle;
    sample.speed = std::hypot(shownMoto->velocity.x, shownMoto->velocity.y);
    sample.headX = shownMoto->head->position.x;
    sample.headY = shownMoto->head->position.y;
    sample.finishX = finishBall->position.x;
    sample.finishY = finishBall->position.y;
    sample.applesLeft = applesLeft;
    return sample;
}

// The keys of what can be watched, and the ghost's: "R - replay   B - best
// run   D - demo   G - ghost", B and D only where there is such a ride.
std::string replayKeys()
{
    std::string line = "R - replay";
    if (bestRunStored()) {
        line += "   B - best run";
    }
    if (demoStored()) {
        line += "   D - demo";
    }
    return line + "   G - ghost";
}

// The first frame that sees a run end: how it ended, and where the head was.
void keepRunEnding(int32_t result)
{
    std::lock_guard<std::mutex> drawing(sceneLock);
    if (shownMoto == nullptr) {
        runEnding = RunEnding::None;
        return;
    }
    runEnding = runEndingOf(result, *shownMoto);
    if (shownMoto->head != nullptr) {
        endHeadX = shownMoto->head->position.x;
        endHeadY = shownMoto->head->position.y;
    }
}

} // namespace

std::string watchedLine()
{
    std::string what = watchSourceName(watchedSource());
    const std::string time = formatRunTime(runTimeOfSteps(watchedSteps()));
    if (watchedResult() == StepFinished) {
        return "You watched " + what + ": finished in " + time;
    }
    if (watchedResult() == StepCrashed) {
        return "You watched " + what + ": crashed at " + time;
    }
    return "You watched " + what + ": " + time;
}

// Ends watching: the thread stops and the panel after watching comes up,
// saying what was watched. Esc is let go, so that the panel does not read
// it as a quit.
int32_t endWatching()
{
    physicsEnabled = false;
    stopWatching();
    keyDown[VK_ESCAPE] = false;
    watchedText = watchedLine();
    return GameWatched;
}

// R, B or D on a panel: the world is rebuilt as at a restart and the
// replay drives it. Returns the next state: `s` when there is nothing to
// watch, Paused when the track just rebuilt is not the replay's (a panel
// says why in either case), Quit when the track can no longer be read.
int32_t beginWatching(int32_t s, WatchSource source)
{
    Replay replay;
    if (!replayToWatch(source, replay)) {
        return s;
    }
    bool watching = false;
    if (!rebuildRun(&replay, source, watching)) {
        return GameQuit;
    }
    if (!watching) {
        // The track changed as it was read: the ride on the panel is gone,
        // and a new run of the track as it is now waits on the pause panel.
        return GamePaused;
    }
    coach.silence();
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
    const bool watchedPanel = s == GameWatched;
    hubViewsTick();
    if (firstHintPending && anyKeyDown()) {
        firstHintPending = false;
    }
    if (keyDown[kKeyGhost].exchange(false)) {
        ghostShown = !ghostShown;
        noteState(ghostShown ? "Ghost on" : "Ghost off");
    }
    const bool watchingNow = s == GameWatching || s == GameWatchPaused;

    // The first frame that sees the finish writes a new best time, drawn or
    // not: later frames only show it. A test ride keeps no best time.
    const double runTime = runTimeOfSteps(stepCount.load());
    const bool newBest = r == GameFinished && !testRideActive && (bestTime == -1.0 || runTime < bestTime);
    if (newBest && s == GameRunning) {
        writeBestTime(runTime);
    }
    // The same frame keeps the run for watching and writes a best run's replay.
    if (s == GameRunning && (r == GameFinished || r == GameCrashed)) {
        endRun(r, stepCount.load(), newBest);
        hubRunEnded(newBest);
        keepRunEnding(r);
        coach.silence();
    }
    if (s == GameRunning && r == GameRunning && coach.on() && !replayDriving.load()) {
        coach.observe(coachSampleNow());
    }
    if (endPanel || s == GamePaused || watchedPanel) {
        if (!testRideActive && keyDown[kKeyRecord].exchange(false)) {
            hubRecordKey();
        }
        if (!testRideActive && s == GameFinished && keyDown[kKeyLike].exchange(false)) {
            hubLikeKey();
        }
        if (!hubPanelFrame()) {
            messageBox("Cant't load the track.", "Error", MB_ICONEXCLAMATION);
            return GameQuit;
        }
    }
    if (s == GameRunning && r == GameFinished && !testRideActive) {
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

    // The track list stands opaque over the whole window: the run's texts
    // are not drawn, and the scene under it does not show.
    const bool listShown = s == GameTrackList;
    if (frameSceneDrawer != nullptr) {
        std::lock_guard<std::mutex> drawing(sceneLock);
        frameSceneDrawer();
    }
    noteFrameShown();

    if (frameDrawing) {
        glColor4f(1.0f, 1.0f, 1.0f, 0.5f);
    }
    const double w = viewWidth.load();
    const double h = viewHeight.load();

    if (showFPS && !listShown) {
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

    const bool demoShown = watchingNow && watchedSource() == WatchSource::Demo;
    if (listShown) {
        // nothing of the run shows through the list
    } else if (watchingNow) {
        const std::string what = demoShown ? "Demo" : "Replay";
        overlayText(s == GameWatchPaused ? what + " - paused" : what, 1.0f, 0.9f, 0.2f, 0.9f, -w / 2.0 + 5.0,
                    h / 2.0 - 20.0, 20.0, false);
    } else if (bestTime != -1.0) {
        overlayText(bestTimeText, 1.0f, 1.0f, 1.0f, 0.5f, -w / 2.0 + 5.0, h / 2.0 - 20.0, 20.0, false);
    }

    const std::string clock = formatRunTime(runTime);
    const double clockX = rightAligned(clock, w, 90.0, 20.0);
    if (listShown) {
        // hidden behind the list
    } else if (endPanel || s == GamePaused || s == GameWatchPaused || watchedPanel) {
        overlayText(clock, 1.0f, 1.0f, 1.0f, 0.5f, clockX, h / 2.0 - 20.0, 20.0, false);
    } else if (clockWaiting.load()) {
        overlayText(clock, 1.0f, 0.0f, 0.0f, 0.7f, clockX, h / 2.0 - 20.0, 20.0, false);
    } else {
        overlayText(clock, 0.0f, 1.0f, 0.0f, 0.7f, clockX, h / 2.0 - 20.0, 20.0, false);
    }

    // The keys of the panel on screen, drawn last on their own band.
    std::vector<std::string> keys;
    const double keysTop = -90.0;
    if (s == GameCrashed && runEnding != RunEnding::None) {
        endMark();
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
        if (s == GameCrashed && runEnding != RunEnding::None) {
            overlayText(runEndingText(runEnding), 0.6f, 0.05f, 0.05f, 0.9f, 0.0, -56.0, 13.0, true);
        }
        if (testRideActive) {
            keys = {"Test ride: Esc goes back to the editor", "R - replay"};
        } else {
            std::string line = replayKeys();
            if (hubActive()) {
                line += "   W - record";
                if (s == GameFinished && currentTrackIsHubTrack()) {
                    line += "   L - like";
                }
            }
            keys = {line, "N - next track   T - track list"};
        }
    }
    if (s == GamePaused) {
        panelBackground();
        overlayText("Paused", 0.1f, 0.1f, 0.8f, 0.7f, 0.0, 20.0, 30.0, true);
        overlayText("Esc  -  exit", 0.0f, 0.0f, 0.0f, 0.7f, 0.0, -10.0, 20.0, true);
        overlayText("Enter - restart", 0.0f, 0.0f, 0.0f, 0.7f, 0.0, -30.0, 20.0, true);
        overlayText("Space - resume", 0.0f, 0.0f, 0.0f, 0.7f, 0.0, -50.0, 20.0, true);
        if (testRideActive) {
            keys = {"Test ride: Esc goes back to the editor"};
        } else {
            std::string line = "N - next track   T - track list";
            if (demoStored()) {
                line += "   D - demo";
            }
            if (hubActive()) {
                line += "   W - world record";
            }
            keys = {line};
        }
    }
    if (watchedPanel) {
        panelBackground();
        const bool demo = watchedSource() == WatchSource::Demo;
        overlayText(demo ? "Demo" : "Replay", 0.75f, 0.5f, 0.05f, 0.8f, 0.0, 20.0, 30.0, true);
        overlayText("Esc  -  exit", 0.0f, 0.0f, 0.0f, 0.7f, 0.0, -10.0, 20.0, true);
        overlayText("Enter - ride", 0.0f, 0.0f, 0.0f, 0.7f, 0.0, -30.0, 20.0, true);
        keys.push_back(watchedText);
        if (testRideActive) {
            keys.push_back("R - replay");
        } else {
            keys.push_back(replayKeys());
            keys.push_back("N - next track   T - track list");
        }
    }
    if (firstHintPending && (s == GameRunning || s == GamePaused)) {
        firstHint(w, h);
    }
    if (watchingNow) {
        if (demoShown) {
            noteBand("The demo: how this track is ridden   Esc - stop   Enter - ride", h / 2.0 - 60.0, 16.0, 1.0f,
                     0.9f, 0.2f);
        }
        heldKeysStrip(watchedKeysAt(stepCount.load()), h);
    }
    if (s == GameRunning && coach.current() != CoachHint::None) {
        const std::string hint = coach.text();
        const double half = textWidth(hint, 22.0) / 2.0 + 12.0;
        const double y = -h / 2.0 + 95.0;
        backdrop(-half, y - 9.0, half, y + 26.0, 0.6f);
        arrowText(hint, 1.0f, 0.95f, 0.4f, 1.0f, 0.0, y, 22.0, true);
    }
    ListAction listAction = ListAction::Stay;
    if (listShown) {
        listAction = trackListFrame(w, h, overlayText, frameDrawing);
    } else {
        const std::string name = trackNameNote();
        if (!name.empty()) {
            noteBand(name, h / 2.0 - 95.0, 26.0, 1.0f, 1.0f, 1.0f);
        }
        const std::string state = stateNote();
        if (!state.empty()) {
            noteBand(state, h / 2.0 - 130.0, 18.0, 0.85f, 0.95f, 1.0f);
        }
    }

    if (newBest && !watchedPanel) {
        overlayText("Best time!", 1.0f, 0.0f, 0.0f, 0.7f, rightAligned("Best time!", w, 160.0, 30.0),
                    h / 2.0 - 50.0, 30.0, false);
    }
    if (!keys.empty() || endPanel || s == GamePaused) {
        keyBand(keys, keysTop);
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
        } else if (testRideActive) {
            // the folder's tracks, the list and the demo are not the ride's
        } else if (keyDown[kKeyNextTrack].exchange(false)) {
            r = rideNextTrack(r);
        } else if (keyDown[kKeyTrackList].exchange(false)) {
            openTrackListView(trackPath);
            listReturnState = r;
            r = GameTrackList;
        } else if (keyDown[kKeyDemo].exchange(false)) {
            r = beginWatching(r, WatchSource::Demo);
        }
    }
    if (endPanel || watchedPanel) {
        if (keyDown[VK_RETURN].load()) {
            r = GameRestart;
            restartStepClock();
            stepResult = StepRunning;
        } else if (keyDown[VK_ESCAPE].load()) {
            r = GameQuit;
        } else if (keyDown[kKeyWatchRun].exchange(false)) {
            r = beginWatching(s, WatchSource::LastRun);
        } else if (testRideActive) {
            // the best run, the demo and the folder are not the ride's
        } else if (keyDown[kKeyWatchBest].exchange(false)) {
            r = beginWatching(s, WatchSource::BestRun);
        } else if (keyDown[kKeyDemo].exchange(false)) {
            r = beginWatching(s, WatchSource::Demo);
        } else if (keyDown[kKeyNextTrack].exchange(false)) {
            r = rideNextTrack(s);
        } else if (keyDown[kKeyTrackList].exchange(false)) {
            openTrackListView(trackPath);
            listReturnState = s;
            r = GameTrackList;
        }
    }
    if (listShown) {
        if (listAction == ListAction::Back) {
            closeTrackListView();
            r = listReturnState;
        } else if (listAction == ListAction::Ride) {
            switchTrack(chosenTrack());
            closeTrackListView();
            restartStepClock();
            stepResult = StepRunning;
            r = GameRestart;
        } else if (listAction == ListAction::Demo) {
            // The chosen track's demo; should it be gone by now, a run of
            // the track starts instead.
            switchTrack(chosenTrack());
            closeTrackListView();
            r = beginWatching(GameRestart, WatchSource::Demo);
            if (r == GameRestart) {
                restartStepClock();
                stepResult = StepRunning;
            }
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
        runEnding = RunEnding::None;
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
    clearHudNotes();
    coach.reset();

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
