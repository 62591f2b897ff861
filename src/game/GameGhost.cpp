#include "game/GameGhost.h"

#include "game/Game.h"
#include "model/Globals.h"
#include "model/Replay.h"
#include "physics/Motorbike.h"

#include <GL/gl.h>

#include <algorithm>
#include <memory>

bool ghostShown = true;

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

} // namespace

void prepareGhost()
{
    Replay replay;
    std::string error;
    uint64_t digest = 0;
    if (readReplayFile(bestReplayPath(trackPath), replay, error) != ReplayReadError::None ||
        !trackDigest(trackPath, digest) || replay.digest != digest) {
        ready = false;
        riddenTrack.clear();
        ghost.poses.clear();
        return;
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

const GhostPath& ghostPath()
{
    return ghost;
}

namespace {

// One ghost bike in a tint, as it was after `step` steps.
void drawPath(const GhostPath& path, int32_t step, float red, float green, float blue)
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
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

GhostPath recordGhost;
uint64_t recordGhostDigest = 0;
bool recordReady = false;

} // namespace

void drawGhost(int32_t step)
{
    if (ready && ghostShown) {
        drawPath(ghost, step, 0.7f, 0.85f, 1.0f);
    }
    if (recordReady) {
        drawPath(recordGhost, step, 1.0f, 0.75f, 0.2f);
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
