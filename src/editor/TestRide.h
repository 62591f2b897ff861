// F5: the track being edited, saved or not, ridden in the game mode, and
// the editor back afterwards exactly as it left: track, view, mode,
// selection and undo history.
//
// The ride runs on a copy of the track written with no best time into a
// folder of its own in the system's temporary folder; the folder goes when
// the ride ends, so a ride leaves no file and no best time behind. The game
// opens its window with the settings of the start-up dialog, as from the
// Game button. Main thread only.
#pragma once

#include <functional>
#include <string>

// The game's settings of the start-up dialog, read when a ride starts:
// full screen and the frame-rate display as the Game button would store
// them, and the program's folder, where the game finds its textures (the
// current folder while riding; empty: stay where it is).
struct TestRideSettings {
    bool fullscreen = false;
    bool showFPS = false;
    std::string folder;
};
using TestRideSettingsSource = std::function<TestRideSettings()>;
// Set by the program; without one a ride is windowed, with showFPS as it
// stands, in the current folder.
void setTestRideSettings(TestRideSettingsSource source);

// F5 in a frame of the editor: refused silently while a polygon is being
// drawn; the start must pass the save checks, with their messages. When it
// passes, the ride is due once the frame is done.
void requestTestRide();
// True once after a frame that asked for a ride; runEditor also drops a
// request left from an earlier editor with it.
bool takeTestRideRequest();

// Between two frames: closes the editor's window, runs the game mode on the
// track, then opens and shows the editor's window again. False when the
// window cannot be opened again (the player has been told).
bool runTestRide();
