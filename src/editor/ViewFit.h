// Views that show the whole track: Home, and the first view of a loaded
// track, which follows the window's real size until the player moves it.
//
// Main thread only; works on viewCentre and viewZoom of Editor.h. The
// clamps of the editor's frame apply afterwards as to any view.
#pragma once

// Pixels left free around the track by fitViewToTrack.
inline constexpr double kFitMargin = 40.0;

// Centres the view on the track (polygons, placed apples, start, finish)
// and zooms so that it fits the window with kFitMargin pixels to spare.
// Coordinates that are not finite are left out; with no extent in either
// direction the zoom stays.
void fitViewToTrack();

// The loaded track's first view was fitted to `width` x `height` (the
// dialog's size); with `follow` the fit is taken again whenever the window's
// size differs, until the player changes the view.
void startFollowingWindowSize(bool follow, int width, int height);
// Start of a frame: fit again when the window's size changed.
void followWindowSize();
// After the frame's view commands, before the clamps: a view the player
// changed ends the following.
void noteViewCommands();
// True while the view still follows the window's size.
bool followingWindowSize();
