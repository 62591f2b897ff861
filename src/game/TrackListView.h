// The track list inside the game window: T on the end and pause panels
// opens it over the stilled scene. Every track of the current track's
// folder with its best time, par and medal, the medals of the folder, and a
// picture of the selected track drawn with the game's own textures and
// drawing code, its start and finish marked. Up/Down (and a controller's
// d-pad), PgUp/PgDown, Home/End move; Enter rides; D plays the track's
// demo; Esc goes back. Tab switches to the hub's tracks and H opens the hub
// panel (game/HubTracksView.h). The list stands opaque over the whole window, and
// no text of it runs past the window's edge (cut with "…").
//
// Main thread, with the game's GL context current; the pictures are display
// lists of their own, kept for the few tracks looked at last and deleted
// when the list closes.
#pragma once

#include "game/TrackList.h"

#include <string>

enum class ListAction { Stay, Back, Ride, Demo };

// The draw call for a text (the game's overlay text, so tests see it).
using ListTextDrawer = void (*)(const std::string& text, float r, float g, float b, float a, double x, double y,
                                double scale, bool centred);

void openTrackListView(const std::string& currentTrack);
// Deletes the pictures' display lists; the rows go too.
void closeTrackListView();
bool trackListViewOpen();

// One frame of the open list in a window of w by h pixels: reads its keys,
// reads a few more rows, and, when `drawing`, draws the list (texts through
// `text`, which is also called when not drawing).
ListAction trackListFrame(double w, double h, ListTextDrawer text, bool drawing);

// The picture of a track file in the rectangle (window pixels), as the
// list draws the selected track's; only while the list is open.
void drawTrackPicture(const std::string& path, double left, double bottom, double right, double top);

// The track Enter (or D) chose.
const std::string& chosenTrack();

// The rows, for tests.
TrackList& trackListRows();

// Milliseconds from the last open to the end of its first frame (drawn and
// finished by GL); -1 before one. The same in this thread's processor time.
double lastListOpenMillis();
double lastListOpenCpuMillis();

// The costliest frame of the list since it opened (its first frame left
// out: that is the open time), in wall-clock and in this thread's processor
// milliseconds, and the frames counted.
struct ListFrameCost {
    double maxWallMs = 0.0;
    double maxCpuMs = 0.0;
    int frames = 0;
};
ListFrameCost listFrameCost();
