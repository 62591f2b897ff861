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

// Remembers the game's window settings; runEditor calls it before the
// editor's own window replaces them.
void keepGameWindowSettings();

// F5 in a frame of the editor: refused silently while a polygon is being
// drawn; the start must pass the save checks, with their messages. When it
// passes, the ride is due once the frame is done.
void requestTestRide();
// True once after a frame that asked for a ride.
bool takeTestRideRequest();

// Between two frames: closes the editor's window, runs the game mode on the
// track, then opens and shows the editor's window again. False when the
// window cannot be opened again (the player has been told).
bool runTestRide();
