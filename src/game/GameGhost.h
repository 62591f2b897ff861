// The ghost: a translucent bike that rides the track's best run in step with
// the run's clock, behind the player's bike, with no effect on the player's
// physics. Main thread only.
#pragma once

#include "physics/GhostPath.h"

#include <cstdint>

#include <string>

// Toggled by G; kept until the program ends.
extern bool ghostShown;
// The record ghost's name tag ("Record: NAME"), its holder's name.
extern std::string recordGhostName;

// The ghosts' tints: the player's best run, the track's demo (the ghost
// until the player has a best run of their own) and the hub's record.
inline constexpr float kBestGhostTint[3] = {0.7f, 0.85f, 1.0f};
inline constexpr float kDemoGhostTint[3] = {0.75f, 1.0f, 0.7f};
inline constexpr float kRecordGhostTint[3] = {1.0f, 0.35f, 0.8f};

// Before the world of a run is built (no step runs): the ghost path of the
// best replay beside the track, or else of the track's demo, when there is
// one for this version of the track that rides as it says; no ghost
// otherwise. Unchanged replays are
// not ridden again.
void prepareGhost();

// True when the current run has a ghost.
bool ghostReady();
// The ghost rides the track's demo (the player has no best run of the
// track yet); its name tag, "Demo" or "Your best".
bool ghostIsDemo();
const char* ghostName();
// The ghost's path (empty without a ghost).
const GhostPath& ghostPath();

// Draws the ghosts as they were after `step` steps, with the wheel, spring
// and bike textures the scene uses: the player's own (when shown, and
// `ownGhost`: not while the very ride it follows is watched) and the hub's
// record (when raced), each in its tint under its name tag. After a ghost's run has ended
// it stays where it ended and fades. Inside the scene's world transform.
void drawGhost(int32_t step, bool ownGhost = true);

// The hub's record as a second ghost. Computing rides `record` on the track
// at `path` (model/Replay.h), in the world of physics/World.h, which it
// frees: call it while no step runs, and build the run's world afterwards.
// False, with no record ghost, when the ride does not finish as the record
// says.
bool computeRecordGhost(const std::string& path, const Replay& record);
void clearRecordGhost();
// A record ghost for the track with this digest is ready.
bool recordGhostReady(uint64_t digest);
const GhostPath& recordGhostPath();
