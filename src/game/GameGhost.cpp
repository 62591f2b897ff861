#include "game/GameGhost.h"

#include "game/Game.h"
#include "model/Globals.h"
#include "model/Replay.h"
#include "gfx/Text.h"
#include "physics/Motorbike.h"

#include <GL/gl.h>

#include <algorithm>
#include <memory>

bool ghostShown = true;
std::string recordGhostName;

namespace {

// Steps over which an ended ghost fades away.
constexpr double kFadeSteps = 150.0;
constexpr float kGhostAlpha = 0.45f;

GhostPath ghost;
bool ready = false;

// What the current ghost was computed from, so that an unchanged best run
// is not ridden again at every restart.
std::string riddenTrack;
uint64_t riddenDigest = 0;
std::string riddenReplay;

// The bike the ghost is drawn as; made on first use.
std::unique_ptr<Cmoto> ghostBike;

void bindTexture(TGLBMP* texture)
{
    if (texture != nullptr) {
        texture->Bind();
    }
}

bool ghostOfDemo = false;

// The replay at `path` when it was recorded on this version of the track.
bool replayOfTrack(const std::string& path, uint64_t digest, Replay& replay)
{
    std::string error;
    return readReplayFile(path, replay, error) == ReplayReadError::None && replay.digest == digest;
}

} // namespace

void prepareGhost()
{
    Replay replay;
    uint64_t digest = 0;
    const bool haveDigest = trackDigest(trackPath, digest);
    // The player's own best run; until there is one, the track's demo.
    ghostOfDemo = false;
    if (!haveDigest || !replayOfTrack(bestReplayPath(trackPath), digest, replay)) {
        ghostOfDemo = haveDigest && replayOfTrack(demoReplayPath(trackPath), digest, replay);
        if (!ghostOfDemo) {
            ready = false;
            riddenTrack.clear();
            ghost.poses.clear();
            return;
        }
    }
    const std::string text = formatReplay(replay);
    if (riddenTrack == trackPath && riddenDigest == digest && riddenReplay == text) {
        return;   // the same ghost as for the last run
    }
    ready = computeGhostPath(trackPath, replay, ghost);
    riddenTrack = trackPath;
    riddenDigest = digest;
    riddenReplay = text;
}

bool ghostReady()
{
    return ready;
}

bool ghostIsDemo()
{
    return ready && ghostOfDemo;
}

const char* ghostName()
{
    return ghostIsDemo() ? "Demo" : "Your best";
}

const GhostPath& ghostPath()
{
    return ghost;
}

namespace {

// One ghost bike in a tint, as it was after `step` steps.
void drawPath(const GhostPath& path, int32_t step, float red, float green, float blue, const std::string& name,
              double tagLift = 28.0)
{
    if (path.poses.empty()) {
        return;
    }
    const int32_t last = static_cast<int32_t>(path.poses.size()) - 1;
    const int32_t index = std::clamp(step, 0, last);
    float alpha = kGhostAlpha;
    if (step > last) {
        alpha = kGhostAlpha * static_cast<float>(std::max(0.0, 1.0 - (step - last) / kFadeSteps));
        if (alpha <= 0.0f) {
            return;
        }
    }
    const GhostPose& pose = path.poses[static_cast<size_t>(index)];
    if (!ghostBike) {
        ghostBike = std::make_unique<Cmoto>(0.0, 0.0);
    }
    Cmoto& bike = *ghostBike;
    bike.position.setXY(pose.frameX, pose.frameY);
    bike.angle = pose.frameAngle;
    bike.frontWheel->position.setXY(pose.frontX, pose.frontY);
    bike.frontWheel->angle = pose.frontAngle;
    bike.rearWheel->position.setXY(pose.rearX, pose.rearY);
    bike.rearWheel->angle = pose.rearAngle;
    bike.head->position.setXY(pose.headX, pose.headY);

    glColor4f(red, green, blue, alpha);
    bindTexture(wheelTexture);
    bike.drawWheels();
    bindTexture(springTexture);
    bike.drawSprings(pose.facing);
    bindTexture(bikeTexture);
    bike.drawFrame(pose.facing);
    // The name tag above the rider, in the ghost's tint, on a dark band;
    // the record's stands higher, so that two ghosts side by side keep both
    // tags readable.
    if (!name.empty()) {
        const double scale = 14.0;
        const double half = textWidth(name, scale) / 2.0 + 4.0;
        const double x = pose.headX;
        const double y = pose.headY + tagLift;
        glDisable(GL_TEXTURE_2D);
        glColor4f(0.0f, 0.0f, 0.0f, 0.45f * alpha / kGhostAlpha);
        glBegin(GL_QUADS);
        glVertex2d(x - half, y - 4.0);
        glVertex2d(x + half, y - 4.0);
        glVertex2d(x + half, y + scale);
        glVertex2d(x - half, y + scale);
        glEnd();
        glColor4f(red, green, blue, std::min(1.0f, 2.0f * alpha));
        printText(name, true, x, y, scale);
        glEnable(GL_TEXTURE_2D);
    }
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

GhostPath recordGhost;
uint64_t recordGhostDigest = 0;
bool recordReady = false;

} // namespace

void drawGhost(int32_t step, bool ownGhost)
{
    if (ready && ghostShown && ownGhost) {
        if (ghostOfDemo) {
            drawPath(ghost, step, kDemoGhostTint[0], kDemoGhostTint[1], kDemoGhostTint[2], ghostName());
        } else {
            drawPath(ghost, step, kBestGhostTint[0], kBestGhostTint[1], kBestGhostTint[2], ghostName());
        }
    }
    if (recordReady) {
        drawPath(recordGhost, step, kRecordGhostTint[0], kRecordGhostTint[1], kRecordGhostTint[2],
                 recordGhostName.empty() ? std::string("Record") : "Record: " + recordGhostName, 48.0);
    }
}

bool computeRecordGhost(const std::string& path, const Replay& record)
{
    recordReady = computeGhostPath(path, record, recordGhost) && record.result == ReplayFinished;
    recordGhostDigest = record.digest;
    if (!recordReady) {
        recordGhost.poses.clear();
    }
    return recordReady;
}

void clearRecordGhost()
{
    recordReady = false;
    recordGhost.poses.clear();
}

bool recordGhostReady(uint64_t digest)
{
    return recordReady && recordGhostDigest == digest;
}

const GhostPath& recordGhostPath()
{
    return recordGhost;
}
