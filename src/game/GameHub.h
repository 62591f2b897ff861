// The game mode's side of a hub (net/HubService.h): a new best run is sent
// by itself, the end panel tells where it ranks, and W races the track's
// record as a second ghost. Main thread only. Without a hub set, nothing
// here does anything and no line is added.
#pragma once


// Whether new best runs go to the hub (they do, unless the editor's test
// ride, whose track is a scratch copy, turns it off while it rides).
void setHubSending(bool on);

// The first frame that sees a run's end: a new best that was recorded goes
// to the hub, and this end panel will tell what the hub said.
void hubRunEnded(bool newBest);

// W on the end or pause panel: asks the hub for the track's record, or
// hides the record ghost when it is raced.
void hubRecordKey();

// Every frame of an end or pause panel: takes a record that has arrived,
// checks that it finishes as it says on this track (riding it with the
// game's physics, while no step runs) and makes it the record ghost; sets
// the panel's lines (game/PanelLines.h) for the run sent and the record.
// False when the run's world could not be built again (the track file
// went): the game mode must end.
bool hubPanelFrame();

// At every run start, before the world is built: the record ghost stays for
// the same track, goes for another, and a record that could not be checked
// on the panel is checked now.
void hubRunStarting();
