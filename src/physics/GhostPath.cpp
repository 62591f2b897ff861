#include "physics/GhostPath.h"

#include "physics/RunKeys.h"
#include "physics/World.h"

namespace {

GhostPose poseOf(const Cmoto& bike)
{
    GhostPose pose{};
    pose.frameX = static_cast<float>(bike.position.x);
    pose.frameY = static_cast<float>(bike.position.y);
    pose.frameAngle = static_cast<float>(bike.angle);
    pose.frontX = static_cast<float>(bike.frontWheel->position.x);
    pose.frontY = static_cast<float>(bike.frontWheel->position.y);
    pose.frontAngle = static_cast<float>(bike.frontWheel->angle);
    pose.rearX = static_cast<float>(bike.rearWheel->position.x);
    pose.rearY = static_cast<float>(bike.rearWheel->position.y);
    pose.rearAngle = static_cast<float>(bike.rearWheel->angle);
    pose.headX = static_cast<float>(bike.head->position.x);
    pose.headY = static_cast<float>(bike.head->position.y);
    pose.facing = static_cast<int8_t>(facing.load(std::memory_order_relaxed));
    return pose;
}

} // namespace

bool computeGhostPath(const std::string& trackPath, const Replay& replay, GhostPath& path)
{
    path.poses.clear();
    path.result = 0;
    if (replay.steps < 1 || replay.steps > kMaxGhostSteps || !buildWorld(trackPath)) {
        return false;
    }
    path.poses.reserve(static_cast<size_t>(replay.steps) + 1);
    // The bike at the start, with its head on the frame (the simulated
    // bike's head is placed by its first step; it is not touched here).
    Cmoto atStart(startPosition->x, startPosition->y);
    atStart.placeHead();
    path.poses.push_back(poseOf(atStart));

    KeyPlayer player;
    player.begin(&replay.changes);
    int32_t result = StepRunning;
    for (int32_t step = 0; step < replay.steps && result == StepRunning; ++step) {
        result = stepWorldWithKeys(kStepSeconds, player.keysAt(static_cast<uint64_t>(step)));
        path.poses.push_back(poseOf(*simMoto));
    }
    freeWorld();
    const bool ok = result == replay.result && path.poses.size() == static_cast<size_t>(replay.steps) + 1;
    if (!ok) {
        path.poses.clear();
        return false;
    }
    path.result = result;
    return true;
}
