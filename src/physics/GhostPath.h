// The path of a ghost: a replayed run, pose by pose, computed headless before
// the player's run starts, so that the physics thread does no extra work and
// the scene only looks the pose up by the run's clock.
//
// Computing rides the replay in the world of physics/World.h and frees that
// world afterwards: call it on the main thread while no step runs, before
// the player's world is built.
#pragma once

#include "model/Replay.h"

#include <cstdint>
#include <string>
#include <vector>

// Ghosts ride at most half an hour (about 8.6 MB of poses).
inline constexpr int32_t kMaxGhostSteps = 180000;

// Where the bike was after a step, in single precision (for drawing only).
struct GhostPose {
    float frameX, frameY, frameAngle;
    float frontX, frontY, frontAngle;   // the wheel in the frontWheel slot
    float rearX, rearY, rearAngle;
    float headX, headY;
    int8_t facing;
};

struct GhostPath {
    // poses[k] is the bike after k steps; poses[0] is the bike at the start.
    std::vector<GhostPose> poses;
    int32_t result = 0;   // how the ghost's run ended
};

// Rides `replay` on the track at `trackPath` and fills `path`. False, with
// `path` empty, when the track cannot be read, the replay is longer than
// kMaxGhostSteps, or the ride does not end as the replay says. The world is
// freed on return.
bool computeGhostPath(const std::string& trackPath, const Replay& replay, GhostPath& path);
